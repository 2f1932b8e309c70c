#include "run/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

TEST(FileExists, MissingFileEndsWithStatusOneAndTheMessage) {
  EXPECT_EXIT(fileExists("/nonexistent/list.txt"), ::testing::ExitedWithCode(1),
              "cannot open /nonexistent/list.txt: No such file or directory\n");
}

TEST(FileExists, ADirectoryIsRefusedBeforeItIsOpened) {
  testsupport::ScopedTempDir dir;
  EXPECT_EXIT(fileExists(dir.path().c_str()), ::testing::ExitedWithCode(1),
              "is a directory, not a regular file\n");
}

TEST(FileExists, AReadableFileReturns) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("list.txt", "subjects 0\n");
  fileExists("list.txt");
  SUCCEED();
}

TEST(HelpAndUsage, HelpAndVersionEndWithStatusZeroAndNeitherReturns) {
  EXPECT_EXIT(torva::answerHelpOrVersion(true, false, "torvacoreel-x", "help text\n"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(torva::answerHelpOrVersion(false, true, "torvacoreel-x", "help text\n"),
              ::testing::ExitedWithCode(0), "");
  torva::answerHelpOrVersion(false, false, "torvacoreel-x", "help text\n");
}

TEST(HelpAndUsage, AUsageProblemEndsWithStatusTwoNamingTheCommandThenTheUsage) {
  EXPECT_EXIT(torva::exitWithUsageProblem("torvacoreel-x", "unknown option --y", "Usage: x\n"),
              ::testing::ExitedWithCode(2), "^torvacoreel-x: unknown option --y\nUsage: x\n$");
}

TEST(ThreadCount, TakesAWholeNumberFromOneTo4096AndRefusesTheRest) {
  const char *before = std::getenv("TORVA_THREADS");
  const std::string saved = before != nullptr ? before : "";
  int threads = 0;
  std::string error;
  for (const char *text : {"1", "7", "4096"}) {
    setenv("TORVA_THREADS", text, 1);
    EXPECT_TRUE(threadCountFromEnvironment(threads, error)) << text;
    EXPECT_EQ(threads, std::atoi(text));
  }
  for (const char *text : {"", "0", "4097", "2x", "-3", " 4", "+4"}) {
    setenv("TORVA_THREADS", text, 1);
    threads = 5;
    EXPECT_FALSE(threadCountFromEnvironment(threads, error)) << text;
    EXPECT_EQ(error, "TORVA_THREADS='" + std::string(text) +
                         "' is not a thread count; it takes a whole number from 1 to 4096\n");
    EXPECT_EQ(threads, 5) << text;
  }
  unsetenv("TORVA_THREADS");
  EXPECT_TRUE(threadCountFromEnvironment(threads, error));
  EXPECT_GE(threads, 1);
  if (before != nullptr)
    setenv("TORVA_THREADS", saved.c_str(), 1);
}
