// Results staged in the run folder reach their names all together or not at all.
#include "driver/result_transaction.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace {

using testsupport::countEntriesStartingWith;
using testsupport::fileExistsOnDisk;
using testsupport::readFile;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

// Stages "a.txt" (3 bytes, as declared) and "b.txt" with `bText`, declared as 2 bytes.
void stageTwo(ResultTransaction &results, const std::string &bText) {
  ASSERT_EQ(results.open(), "");
  writeFile(results.stagedPath("a.txt", 3), "new");
  writeFile(results.stagedPath("b.txt", 2), bText);
}

TEST(ResultTransaction, CommitReplacesEveryEarlierResultAndRemovesTheRunFolder) {
  ScopedTempDir dir;
  writeFile("a.txt", "old a");
  ResultTransaction results;
  stageTwo(results, "bb");
  EXPECT_EQ(readFile("a.txt"), "old a") << "nothing is in place before the commit";
  EXPECT_FALSE(fileExistsOnDisk("b.txt"));
  EXPECT_EQ(results.commit(), "");
  EXPECT_EQ(readFile("a.txt"), "new");
  EXPECT_EQ(readFile("b.txt"), "bb");
  EXPECT_EQ(countEntriesStartingWith(".torva-run-"), 0);
}

TEST(ResultTransaction, AShortFileFailsTheCommitAndKeepsEveryEarlierResult) {
  ScopedTempDir dir;
  writeFile("a.txt", "old a");
  writeFile("b.txt", "old b");
  ResultTransaction results;
  stageTwo(results, "b"); // one byte of the two declared
  EXPECT_EQ(results.commit(), "result file b.txt was not written completely: 1 bytes of 2 "
                              "expected\n");
  EXPECT_EQ(readFile("a.txt"), "old a");
  EXPECT_EQ(readFile("b.txt"), "old b");
  EXPECT_EQ(countEntriesStartingWith(".torva-run-"), 0);
}

TEST(ResultTransaction, AResultNameTakenByADirectoryFailsBeforeAnythingMoves) {
  ScopedTempDir dir;
  writeFile("a.txt", "old a");
  ASSERT_EQ(mkdir("b.txt", 0755), 0);
  writeFile("b.txt/inside", "a user's file");
  ResultTransaction results;
  stageTwo(results, "bb");
  const std::string problem = results.commit();
  EXPECT_NE(problem.find("b.txt: the working folder holds a directory"), std::string::npos)
      << problem;
  EXPECT_EQ(readFile("a.txt"), "old a");
  EXPECT_EQ(readFile("b.txt/inside"), "a user's file");
}

TEST(ResultTransaction, AnUnwrittenResultOfUnknownSizeFailsTheCommit) {
  ScopedTempDir dir;
  ResultTransaction results;
  ASSERT_EQ(results.open(), "");
  results.stagedPath("net.xdsl"); // the writer failed before creating it
  EXPECT_NE(results.commit().find("result file net.xdsl was not written"), std::string::npos);
  EXPECT_FALSE(fileExistsOnDisk("net.xdsl"));
}

TEST(ResultTransaction, AbortAndDestructionRemoveTheRunFolderWithWhatItHolds) {
  ScopedTempDir dir;
  {
    ResultTransaction results;
    ASSERT_EQ(results.open(), "");
    writeFile(runFolderPath(results.folder(), "label0.torva"), "-9 \n");
    writeFile(results.stagedPath("a.txt", 3), "new");
    EXPECT_EQ(countEntriesStartingWith(".torva-run-"), 1);
  }
  EXPECT_EQ(countEntriesStartingWith(".torva-run-"), 0);
  EXPECT_FALSE(fileExistsOnDisk("a.txt"));
}

TEST(ResultTransaction, OpenRemovesTheFoldersOfRunsThatNoLongerExist) {
  ScopedTempDir dir;
  // Process ids above the kernel's largest (4194304) belong to no process.
  ASSERT_EQ(mkdir(".torva-run-999999999", 0755), 0);
  writeFile(".torva-run-999999999/label3.torva", "-9 \n");
  // A live process keeps its folder: this test's parent process stands in for another run.
  const std::string live = ".torva-run-" + std::to_string(getppid());
  ASSERT_EQ(mkdir(live.c_str(), 0755), 0);
  ResultTransaction results;
  ASSERT_EQ(results.open(), "");
  EXPECT_FALSE(fileExistsOnDisk(".torva-run-999999999/label3.torva"));
  EXPECT_TRUE(fileExistsOnDisk(live));
  results.abort();
  EXPECT_EQ(countEntriesStartingWith(".torva-run-"), 1);
}

TEST(ResultTransactionDeathTest, ExitWithoutCommitRemovesTheRunFolder) {
  ScopedTempDir dir;
  EXPECT_EXIT(
      {
        ResultTransaction results;
        if (results.open().empty())
          writeFile(results.stagedPath("a.txt", 3), "new");
        std::exit(1);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(countEntriesStartingWith(".torva-run-"), 0);
  EXPECT_FALSE(fileExistsOnDisk("a.txt"));
}

} // namespace
