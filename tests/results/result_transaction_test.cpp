// Results staged in the run folder reach their names all together or not at all.
#include "results/result_transaction.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A run folder held by a live run in another process (a child standing in for a run on another
// host, whose process id means nothing here) is kept, although no process of that id exists.
TEST(ResultTransaction, AFolderWhoseLockIsHeldIsKeptEvenWhenItsProcessIdIsGone) {
  ScopedTempDir dir;
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    mkdir(".torva-run-999999999", 0700);
    const int fd = open(".torva-run-999999999/.lock", O_RDWR | O_CREAT, 0600);
    const char ok = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1)
      _exit(2);
    char end = 0;
    _exit(read(done[0], &end, 1) == 1 ? 0 : 3); // holds the lock until told
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  {
    ResultTransaction results;
    ASSERT_EQ(results.open(), "");
    EXPECT_TRUE(fileExistsOnDisk(".torva-run-999999999/.lock"));
  }
  const char end = 'x';
  ASSERT_EQ(write(done[1], &end, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Its run is over: the next run removes it.
  ResultTransaction next;
  ASSERT_EQ(next.open(), "");
  EXPECT_FALSE(fileExistsOnDisk(".torva-run-999999999"));
  for (int fd : {ready[0], ready[1], done[0], done[1]})
    close(fd);
}

// A run that ended without cleaning up but has not been reaped: its process id still answers,
// yet its lock went with it, so its folder is stale.
TEST(ResultTransaction, TheFolderOfAZombieRunIsRemoved) {
  ScopedTempDir dir;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ResultTransaction results;
    _exit(results.open().empty() ? 0 : 2); // _exit skips the handler that would remove it
  }
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  ASSERT_EQ(info.si_status, 0);
  const std::string folder = ".torva-run-" + std::to_string(child);
  ASSERT_TRUE(fileExistsOnDisk(folder + "/.lock"));
  ASSERT_EQ(kill(child, 0), 0) << "a zombie still has its process id";
  ResultTransaction results;
  ASSERT_EQ(results.open(), "");
  EXPECT_FALSE(fileExistsOnDisk(folder));
  waitpid(child, nullptr, 0);
}

TEST(ResultTransaction, AStagedFolderReplacesTheEarlierFolderAsAWholeInAnotherBaseFolder) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("study", 0755), 0);
  ASSERT_EQ(mkdir("study/img", 0755), 0);
  writeFile("study/img/old.nii", "old image");
  writeFile("study/list", "old list");
  writeFile("study/notes.txt", "a user's notes");
  ResultTransaction results("study");
  ASSERT_EQ(results.open(), "");
  EXPECT_EQ(results.folder(), "study/.torva-run-" + std::to_string(getpid()));
  const std::string images = results.stagedFolder("img");
  ASSERT_NE(images, "");
  writeFile(images + "/new.nii", "new image");
  writeFile(results.stagedPath("list", 8), "new list");
  EXPECT_EQ(readFile("study/img/old.nii"), "old image") << "nothing moves before the commit";
  EXPECT_EQ(results.commit(), "");
  EXPECT_FALSE(fileExistsOnDisk("study/img/old.nii"));
  EXPECT_EQ(readFile("study/img/new.nii"), "new image");
  EXPECT_EQ(readFile("study/list"), "new list");
  EXPECT_EQ(readFile("study/notes.txt"), "a user's notes");
  EXPECT_FALSE(fileExistsOnDisk(results.folder()));
}

TEST(ResultTransaction, AFailedCommitInAnotherBaseFolderKeepsTheEarlierFolderAndNamesTheTarget) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("study", 0755), 0);
  ASSERT_EQ(mkdir("study/img", 0755), 0);
  writeFile("study/img/old.nii", "old image");
  ASSERT_EQ(mkdir("study/list", 0755), 0); // a folder where a file result goes
  ResultTransaction results("study");
  ASSERT_EQ(results.open(), "");
  writeFile(results.stagedFolder("img") + "/new.nii", "new image");
  writeFile(results.stagedPath("list"), "new list");
  EXPECT_EQ(results.commit(), "cannot replace the result file study/list: the folder study holds "
                              "a directory of that name; move it away and run again\n");
  EXPECT_EQ(readFile("study/img/old.nii"), "old image");
  EXPECT_FALSE(fileExistsOnDisk("study/img/new.nii"));
}

// A run killed between making its folder and taking the folder's lock leaves ".torva-new-<pid>".
TEST(ResultTransaction, AFolderOfARunKilledWhileMakingItIsRemoved) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir(".torva-new-999999999", 0700), 0);
  ResultTransaction results;
  ASSERT_EQ(results.open(), "");
  EXPECT_FALSE(fileExistsOnDisk(".torva-new-999999999"));
  EXPECT_EQ(countEntriesStartingWith(".torva-new-"), 0) << "the run's own was renamed";
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
