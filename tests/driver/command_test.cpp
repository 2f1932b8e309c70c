// The command line as a user meets it: the program is run as a separate process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "run/startup.h"
#include "support/nifti_image.h"
#include "support/temp_dir.h"

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

namespace {

const std::string kProgram = TORVACOREEL_PATH;

const char *const kUsage =
    "Usage: torvacoreel fileList method resampling_size\n"
    "\n"
    "Parameters: \n"
    "fileList - proj file list\n"
    "method - an integer variable. It takes values from {1 - jackknife; 2 - bootstrap}\n"
    "resampling_size - an integer variable. It's the number of iterations for resampling.\n"
    "\n"
    "Examples:\n"
    "torvacoreel torva.prj.filelist 2 200\n"
    "This command tells TORVA to perform bootstrap resampling with resampling size=200\n";

const char *const kHeading =
    "TORVA with Bootstrap or Jackknife Resamping\n**************************\n";

// A tiny study of `subjects` 2 x 2 x 1 maps.
void writeTinyStudy(int subjects) {
  std::string list = "subjects " + std::to_string(subjects) + "\nnodes 5\nsize 2 2 1\nid file fv\n";
  for (int k = 0; k < subjects; ++k) {
    const std::string name = "s" + std::to_string(k) + ".nii";
    ASSERT_TRUE(testsupport::writeTestImage(name, DT_UINT8, 2, 2, 1,
                                            {double(k % 2), 0, double((k / 2) % 2), 1}));
    list += std::to_string(k + 10) + " " + name + " " + std::to_string(k % 2) + "\n";
  }
  writeFile("list.txt", list);
}

// The subject lines printed in each iteration, iteration by iteration.
std::vector<std::vector<std::string>> subjectLinesPerIteration(const std::string &out) {
  std::vector<std::vector<std::string>> iterations;
  std::size_t pos = 0;
  while (pos < out.size()) {
    std::size_t end = out.find('\n', pos);
    if (end == std::string::npos)
      end = out.size();
    const std::string line = out.substr(pos, end - pos);
    if (line.rfind("resampling ", 0) == 0)
      iterations.emplace_back();
    else if (line.rfind("subject ", 0) == 0 && line.find("file=") != std::string::npos &&
             !iterations.empty() && line.size() > 8 && line[8] == ' ')
      iterations.back().push_back(line);
    pos = end + 1;
  }
  return iterations;
}

} // namespace

TEST(CommandLine, WrongArgumentCountPrintsOnlyTheUsageWithStatusTwo) {
  ScopedTempDir dir;
  EXPECT_EQ(runCommand(kProgram + " a b"), 2);
  EXPECT_EQ(readFile("stdout.txt"), kUsage);
  EXPECT_EQ(runCommand(kProgram + " a b c d"), 2);
  EXPECT_EQ(readFile("stdout.txt"), kUsage);
  EXPECT_EQ(runCommand(kProgram), 2);
  EXPECT_EQ(readFile("stdout.txt"), kUsage);
}

TEST(CommandLine, UnknownMethodPrintsTheHeadingThenStopsWithStatusTwo) {
  ScopedTempDir dir;
  writeFile("list.txt", "subjects 1\n");
  for (const std::string method : {"0", "3", "abc", "1abc", "1.9", "02", "' 1'"}) {
    EXPECT_EQ(runCommand(kProgram + " list.txt " + method + " 5"), 2);
    EXPECT_EQ(readFile("stdout.txt"), std::string(kHeading) + "Unknown resampling method");
  }
}

TEST(CommandLine, MissingListIsReportedBeforeTheMethodWithStatusOne) {
  ScopedTempDir dir;
  EXPECT_EQ(runCommand(kProgram + " nolist.txt 7 5"), 1);
  EXPECT_EQ(readFile("stdout.txt"), "error: File nolist.txt does not exist\n");
}

TEST(CommandLine, RunsWithoutIterationsAreRefused) {
  ScopedTempDir dir;
  writeTinyStudy(3);
  EXPECT_EQ(runCommand(kProgram + " list.txt 2 0"), 1);
  EXPECT_NE(readFile("stderr.txt").find("nothing to resample"), std::string::npos);
  EXPECT_FALSE(testsupport::fileExistsOnDisk("label0.torva"));
  writeFile("empty.txt", "subjects 0\nnodes 5\nsize 2 2 1\nid file fv\n");
  EXPECT_EQ(runCommand(kProgram + " empty.txt 1 5"), 1);
}

TEST(CommandLine, BadImageAnywhereStopsBeforeTheFirstIteration) {
  ScopedTempDir dir;
  writeTinyStudy(3);
  ASSERT_TRUE(testsupport::writeTestImage("s2.nii", DT_UINT8, 2, 2, 1, {0, 3, 0, 0}));
  EXPECT_EQ(runCommand(kProgram + " list.txt 1 0"), 1);
  EXPECT_EQ(readFile("stdout.txt").find("resampling 0"), std::string::npos);
  EXPECT_NE(readFile("stderr.txt").find("s2.nii"), std::string::npos);
}

// Every image is decoded before the first iteration, so even the subject that iteration 0
// leaves out is reported before any iteration starts, with the reader's message.
TEST(CommandLine, MissingImageIsReportedBeforeTheFirstIteration) {
  ScopedTempDir dir;
  writeTinyStudy(3);
  ASSERT_EQ(std::remove("s0.nii"), 0);
  EXPECT_EQ(runCommand(kProgram + " list.txt 1 0"), 1);
  EXPECT_EQ(readFile("stdout.txt"), std::string(kHeading) + "Jackknife resampling\n");
  EXPECT_EQ(readFile("stderr.txt").rfind("image file does not exist. \n", 0), 0u);
  EXPECT_NE(readFile("stderr.txt").find("image s0.nii"), std::string::npos);
  EXPECT_FALSE(testsupport::fileExistsOnDisk("log.torva"));
}

TEST(Resampling, JackknifeRunsOneIterationPerSubjectLeavingItOut) {
  ScopedTempDir dir;
  writeTinyStudy(4);
  ASSERT_EQ(runCommand(kProgram + " list.txt 1 200"), 0) << readFile("stderr.txt");
  const std::string out = readFile("stdout.txt");
  EXPECT_EQ(
      out.rfind(std::string(kHeading) + "Jackknife resampling\nresampling 0\nRead Dataset\n", 0),
      0u);
  const auto iterations = subjectLinesPerIteration(out);
  ASSERT_EQ(iterations.size(), 4u);
  for (int P = 0; P < 4; ++P) {
    std::vector<std::string> expected;
    for (int k = 0; k < 4; ++k) {
      if (k != P)
        expected.push_back("subject   " + std::to_string(k + 10) + ", file=s" + std::to_string(k) +
                           ".nii, fv=" + std::to_string(k % 2));
    }
    EXPECT_EQ(iterations[P], expected) << "iteration " << P;
  }
}

TEST(Resampling, BootstrapRunsTheGivenIterationsAndReproduces) {
  ScopedTempDir dir;
  writeTinyStudy(5);
  ASSERT_EQ(runCommand(kProgram + " list.txt 2 3", "first.txt"), 0) << readFile("stderr.txt");
  ASSERT_EQ(runCommand(kProgram + " list.txt 2 3", "second.txt"), 0);
  const std::string first = readFile("first.txt");
  EXPECT_EQ(first, readFile("second.txt"));
  EXPECT_NE(first.find("Bootstrap resampling\n"), std::string::npos);
  const auto iterations = subjectLinesPerIteration(first);
  ASSERT_EQ(iterations.size(), 3u);
  for (const auto &lines : iterations)
    EXPECT_EQ(lines.size(), 5u);
}

namespace {

TEST(WorkingFolderLock, ASecondRunIsTurnedAwayNamingTheFolderAndTheFirstRunsPid) {
  ScopedTempDir dir;
  writeTinyStudy(3);
  // The lock is held by this test process, as a running analysis would hold it.
  EXPECT_EQ(lockWorkingFolder(), "");
  EXPECT_EQ(readFile(".torva.lock"), std::to_string(getpid()) + "\n");
  EXPECT_EQ(runCommand(kProgram + " list.txt 1 0"), 1);
  EXPECT_EQ(readFile("stderr.txt"),
            "the working folder " + dir.path() + " is in use by another run (pid " +
                std::to_string(getpid()) + "); wait for it to end or run in another folder\n");
  EXPECT_FALSE(testsupport::fileExistsOnDisk("label0.torva"));
}

} // namespace
