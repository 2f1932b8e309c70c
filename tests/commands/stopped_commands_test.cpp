// Real stop signals to the commands at work, as a scheduler's time limit or pre-emption sends them
// (SIGTERM), a user at the terminal (SIGINT) or a closed terminal (SIGHUP). Every case copies a
// layout of finished runs (support/command_layout.h), starts one command in it as a child
// process, waits until the command is at work (its run folder appeared, or its progress text
// reached an iteration), sends the signal and checks that the command ended with 128 + the
// signal's number within seconds, naming the signal; that no run folder is left anywhere; and
// that every file that was there before has its bytes.
//
// A signal that comes once the command is renaming its results into place lets it finish (status
// 0, the new results); a case that meets this (the machine held the test back for the whole of
// the command's work) is tried again in a fresh copy.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/command_layout.h"
#include "support/folder_state.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using Clock = std::chrono::steady_clock;

const std::string kAnalysis = TORVACOREEL_PATH;
const std::string kMerge = TORVACOREEL_MERGE_PATH;
const std::string kPermute = TORVACOREEL_PERMUTE_PATH;
const std::string kReport = TORVACOREEL_REPORT_PATH;

// Whether the file at `path` exists and is newer than every program the layout is made with.
bool newerThanThePrograms(const std::string &path) {
  struct stat made {};
  if (stat(path.c_str(), &made) != 0)
    return false;
  for (const char *program :
       {TORVACOREEL_PATH, TORVACOREEL_PREPARE_PATH, TORVACOREEL_REPORT_PATH, TORVACOREEL_MERGE_PATH,
        TORVACOREEL_PERMUTE_PATH, MAKE_EXAMPLE_STUDY_PATH}) {
    struct stat built {};
    if (stat(program, &built) != 0 || built.st_mtime >= made.st_mtime)
      return false;
  }
  return true;
}

// The layout: 60 subjects (54 with an outcome and a mask) of 96 x 96 x 64 voxels, so that
// reading the study takes the commands a good part of a second, with a bootstrap of 2 iterations
// and a permutation test of its regions in study/. Made once per build by the first case that
// needs it (the others wait on its lock) and again when a program is newer.
const std::string &layout() {
  static const std::string path = [] {
    const std::string folder = std::string(TORVA_TEST_OUTPUT_DIR) + "/stopped_commands";
    std::filesystem::create_directories(TORVA_TEST_OUTPUT_DIR);
    const int lock = open((folder + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0)
      std::abort();
    const std::string complete = folder + "/.complete";
    if (!newerThanThePrograms(complete)) {
      std::filesystem::remove_all(folder);
      std::filesystem::create_directories(folder);
      if (!testsupport::makeCommandLayout(folder, {60, "96 96 64", "2 2"}) ||
          std::system(("cd " + folder + "/study && " + kPermute +
                       " --permutations 200 torva.prj.filelist . > /dev/null 2>&1")
                          .c_str()) != 0)
        std::abort();
      testsupport::writeFile(complete, "");
    }
    close(lock);
    return folder;
  }();
  return path;
}

struct StopCase {
  std::string folder;                   // where the command runs, in the copy
  std::vector<std::string> arguments;   // the program first
  std::vector<std::string> environment; // NAME=value
  std::function<bool()> atWork;         // true once the command is at work
  int signal = SIGTERM;
};

// Starts the command of `c` with its standard streams into stdout.txt and stderr.txt here.
pid_t start(const StopCase &c) {
  const pid_t child = fork();
  if (child != 0)
    return child;
  const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(c.folder.c_str()) != 0)
    _exit(126);
  for (const std::string &setting : c.environment)
    putenv(const_cast<char *>(setting.c_str()));
  std::vector<char *> argv;
  for (const std::string &word : c.arguments)
    argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Waits until `ready` holds, polling every 0.2 ms; false when the child ended first (its status
// then in `status`) or after a minute.
bool waitUntil(pid_t child, const std::function<bool()> &ready, int &status) {
  const auto limit = Clock::now() + std::chrono::minutes(1);
  while (Clock::now() < limit) {
    if (ready())
      return true;
    if (waitpid(child, &status, WNOHANG) == child)
      return false;
    usleep(200);
  }
  return false;
}

// The child's status once it ended, killing it after a minute; seconds taken into `seconds`.
int waitForEnd(pid_t child, double &seconds) {
  const auto from = Clock::now();
  int status = 0;
  while (waitpid(child, &status, WNOHANG) != child) {
    if (Clock::now() - from > std::chrono::minutes(1)) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    usleep(200);
  }
  seconds = std::chrono::duration<double>(Clock::now() - from).count();
  return status;
}

const char *nameOf(int signal) {
  return signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : "SIGHUP";
}

// Runs `c` in fresh copies of the layout until the signal stops it (at most three times).
void expectStopped(const StopCase &c) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    testsupport::ScopedTempDir dir;
    ASSERT_EQ(std::system(("cp -a '" + layout() + "/.' .").c_str()), 0);
    const auto before = testsupport::filesNow();
    const pid_t child = start(c);
    ASSERT_GT(child, 0);
    int status = 0;
    const bool atWork = waitUntil(child, c.atWork, status);
    if (!atWork && waitpid(child, &status, WNOHANG) == 0) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    }
    ASSERT_TRUE(atWork) << "the command ended (status " << status << ") or took a minute before "
                        << "it was at work:\n"
                        << readFile("stderr.txt");
    ASSERT_EQ(kill(child, c.signal), 0);
    double seconds = 0;
    status = waitForEnd(child, seconds);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    std::map<std::string, std::string> after;
    std::vector<std::string> runFolders;
    testsupport::collectFiles(".", after, runFolders);
    EXPECT_TRUE(runFolders.empty()) << runFolders.front() << " was left behind";
    if (WEXITSTATUS(status) == 0)
      continue; // the signal came during the final renames: the new results are in place
    EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << readFile("stderr.txt");
    EXPECT_NE(readFile("stderr.txt").find(std::string("stopped by ") + nameOf(c.signal)),
              std::string::npos)
        << readFile("stderr.txt");
    EXPECT_LT(seconds, 5.0) << "to end after the signal";
    testsupport::expectUnchangedAndNoRunFolder(before);
    std::printf("%s ended %.3f s after %s\n", c.arguments[0].c_str(), seconds, nameOf(c.signal));
    return;
  }
  FAIL() << "the command finished before the signal every time";
}

// Once `file` holds `text`.
std::function<bool()> holds(const std::string &file, const std::string &text) {
  return [file, text] { return readFile(file).find(text) != std::string::npos; };
}

std::function<bool()> runFolderIn(const std::string &folder) {
  return [folder] { return testsupport::hasRunFolder(folder, ".torva-run-"); };
}

// A bootstrap of 400 iterations in study/, once its first iteration's text is out: on one thread,
// so the stop comes from within an iteration or between two.
TEST(StoppedCommands, AnAnalysisOnOneThreadBySigterm) {
  expectStopped({"study",
                 {kAnalysis, "torva.prj.filelist", "2", "400"},
                 {"TORVA_THREADS=1"},
                 holds("stdout.txt", "resampling 0\n"),
                 SIGTERM});
}

// The same on two threads: the workers hand the stop to the thread that writes the output.
TEST(StoppedCommands, AnAnalysisOnTwoThreadsBySigint) {
  expectStopped({"study",
                 {kAnalysis, "torva.prj.filelist", "2", "400"},
                 {"TORVA_THREADS=2"},
                 holds("stdout.txt", "resampling 0\n"),
                 SIGINT});
}

// Shard 1 of 2 of that bootstrap in shard1/, whose shard.torva of the earlier run stays.
TEST(StoppedCommands, AShardBySighup) {
  expectStopped({"shard1",
                 {kAnalysis, "torva.prj.filelist", "2", "400"},
                 {"TORVA_SHARD=1/2", "TORVA_THREADS=2"},
                 holds("stdout.txt", "resampling 200\n"),
                 SIGHUP});
}

// The merge in merged/, while it reads the study.
TEST(StoppedCommands, AMergeBySigterm) {
  expectStopped({"merged",
                 {kMerge, "torva.prj.filelist", "2", "2", "../shard0", "../shard1"},
                 {"TORVA_THREADS=1"},
                 runFolderIn("merged"),
                 SIGTERM});
}

// A million permutations of the run's regions in study/: its permutation.tsv and maps stay.
TEST(StoppedCommands, APermutationRunBySigint) {
  expectStopped({"study",
                 {kPermute, "--permutations", "1000000", "torva.prj.filelist", "."},
                 {"TORVA_THREADS=2"},
                 runFolderIn("study"),
                 SIGINT});
}

// A report over the earlier one in report/, while it reads the subjects.
TEST(StoppedCommands, AReportBySighup) {
  expectStopped({"study",
                 {kReport, "--study", "torva.prj.filelist", "--out", "../report", "."},
                 {},
                 runFolderIn("report"),
                 SIGHUP});
}

// prepare --force over the prepared study, while it writes the subjects' images: the study's
// img/, list and tables stay as they were.
TEST(StoppedCommands, APrepareWithForceBySigterm) {
  std::vector<std::string> arguments = {TORVACOREEL_PREPARE_PATH,
                                        "--table",
                                        "raw/participants.tsv",
                                        "--id-column",
                                        "participant_id",
                                        "--image",
                                        "masks/{id}_lesion.nii.gz",
                                        "--outcome-column",
                                        "rankin",
                                        "--above",
                                        "2",
                                        "--skip-missing",
                                        "--out",
                                        "study",
                                        "--force"};
  expectStopped({".", arguments, {}, runFolderIn("study"), SIGTERM});
}

// The run folder in `folder` (there is one), or "".
std::string runFolderOf(const std::string &folder) {
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    if (testsupport::isRunFolder(entry.path().filename()))
      return entry.path().filename();
  return "";
}

// A shard killed outright (SIGKILL, as after a scheduler's grace time) leaves its run folder;
// the merge names that shard and what to do, and so it does while the shard still runs.
TEST(StoppedCommands, TheMergeNamesAShardThatDidNotFinish) {
  testsupport::ScopedTempDir dir;
  ASSERT_EQ(std::system(("cp -a '" + layout() + "/.' .").c_str()), 0);
  ASSERT_EQ(std::remove("shard1/shard.torva"), 0);
  const StopCase shard{"shard1",
                       {kAnalysis, "torva.prj.filelist", "2", "2"},
                       {"TORVA_SHARD=1/2", "TORVA_THREADS=1"},
                       runFolderIn("shard1"),
                       SIGKILL};
  const std::string merge =
      "(cd merged && " + kMerge + " torva.prj.filelist 2 2 ../shard0 ../shard1)";

  pid_t child = start(shard);
  int status = 0;
  ASSERT_TRUE(waitUntil(child, shard.atWork, status)) << readFile("stderr.txt");
  EXPECT_EQ(testsupport::runCommand(merge, "merge_out.txt", "merge_err.txt"), 1);
  EXPECT_EQ(readFile("merge_err.txt"), "shard 1 of 2 (../shard1) did not finish: a run is still "
                                       "writing it (../shard1/" +
                                           runFolderOf("shard1") +
                                           " is in use); wait for it to end, then merge\n");
  ASSERT_EQ(kill(child, SIGKILL), 0);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const std::string left = runFolderOf("shard1");
  ASSERT_NE(left, "");
  EXPECT_EQ(testsupport::runCommand(merge, "merge_out.txt", "merge_err.txt"), 1);
  EXPECT_EQ(readFile("merge_err.txt"), "shard 1 of 2 (../shard1) did not finish: its run was "
                                       "stopped before it was done (it left ../shard1/" +
                                           left + "); run that shard again\n");

  // Run again, the shard removes the dead run's folder and the merge goes through.
  ASSERT_EQ(testsupport::runCommand("cd shard1 && TORVA_SHARD=1/2 " + kAnalysis +
                                    " torva.prj.filelist 2 2"),
            0);
  EXPECT_EQ(runFolderOf("shard1"), "");
  EXPECT_EQ(testsupport::runCommand(merge, "merge_out.txt", "merge_err.txt"), 0)
      << readFile("merge_err.txt");
}

// Whether a run folder in `folder` holds the staged file `name`.
bool staged(const std::string &folder, const std::string &name) {
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    if (testsupport::isRunFolder(entry.path().filename()) &&
        std::filesystem::exists(entry.path() / name))
      return true;
  return false;
}

// Signals at many moments of a report over an earlier one: spread over the whole run, then just
// after its last file was staged, around the final renames. Every time report/ holds either the
// earlier report whole (the signal came before the renames: status 128 + SIGTERM, or the
// signal's own end when it came before the handler was there) or the new one whole (status 0),
// and no run folder.
TEST(StoppedCommands, ASignalAtAnyMomentLeavesTheEarlierReportOrTheNewOneNeverAMix) {
  testsupport::ScopedTempDir dir;
  ASSERT_EQ(std::system(("cp -a '" + layout() + "/.' .").c_str()), 0);
  const std::vector<std::string> pages = {"report/report.html", "report/regions.csv",
                                          "report/axial.png", "report/frequency.png"};
  const auto contents = [&pages] {
    std::vector<std::string> bytes;
    for (const std::string &page : pages)
      bytes.push_back(readFile(page));
    return bytes;
  };
  const StopCase report{".", {kReport, "--out", "report", "study"}, {}, {}, SIGTERM};
  double whole = 0; // how long the whole report takes here
  ASSERT_EQ(waitForEnd(start(report), whole), 0);
  const std::vector<std::string> fresh = contents();
  ASSERT_EQ(testsupport::runCommand("cd study && " + kReport +
                                    " --study torva.prj.filelist --out ../report ."),
            0);
  const std::vector<std::string> earlier = contents(); // with the study's overlap and splits
  ASSERT_NE(earlier, fresh);

  int stopped = 0;
  int finished = 0;
  // A signal `delay` seconds after the report started, or after it staged report.html.
  const auto signalAt = [&](double delay, bool afterTheLastFile, int moment) {
    for (std::size_t p = 0; p < pages.size(); ++p)
      testsupport::writeFile(pages[p], earlier[p]);
    const pid_t child = start(report);
    ASSERT_GT(child, 0);
    int status = 0;
    if (afterTheLastFile)
      waitUntil(
          child, [] { return staged("report", "report.html"); }, status);
    usleep(static_cast<useconds_t>(1e6 * delay));
    kill(child, SIGTERM);
    double seconds = 0;
    status = waitForEnd(child, seconds);
    const std::vector<std::string> now = contents();
    EXPECT_FALSE(testsupport::hasRunFolder("report")) << "moment " << moment;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      EXPECT_TRUE(now == fresh) << "moment " << moment << ": finished with some earlier files";
      ++finished;
      return;
    }
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) ||
                (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM))
        << "moment " << moment << ": status " << status;
    EXPECT_TRUE(now == earlier) << "moment " << moment << ": stopped with some new files";
    ++stopped;
  };
  for (int m = 0; m < 10; ++m)
    signalAt(whole * m / 10.0, false, m);
  for (int m = 0; m < 16; ++m)
    signalAt(0.001 * m, true, 10 + m);
  std::printf("a report of %.3f s: %d stopped, %d finished\n", whole, stopped, finished);
  EXPECT_GT(stopped, 0);
  EXPECT_GT(finished, 0) << "no moment reached the final renames";
}

} // namespace
