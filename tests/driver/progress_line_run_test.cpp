// The command's progress line as a user sees it: standard error on a pseudo-terminal, standard
// output in a file. Every other byte must be what a run without a terminal writes.
#include <gtest/gtest.h>

#include <string>

#include "driver/low_overlap_study.h"
#include "support/temp_dir.h"
#include "support/terminal.h"

namespace {

using testsupport::countOf;
using testsupport::progressDrawCount;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::runOnTerminal;
using testsupport::ScopedTempDir;
using testsupport::TerminalRun;
using testsupport::withoutProgressLine;

const std::string kProgram = TORVACOREEL_PATH;
const std::string kMerge = TORVACOREEL_MERGE_PATH;
const std::string kPermute = TORVACOREEL_PERMUTE_PATH;
const std::string kErase = "\r\033[K";
using testsupport::kRunResultFiles;
using testsupport::makeRunFolder;

void makeStudy() {
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --regions 3 --seed 1"),
            0);
}

const std::string kList = " study/torva.prj.filelist ";

// The same run twice in folders "plain" (every stream in a file) and "terminal" (standard error
// on a terminal): returns what the terminal received.
TerminalRun runBothWays(const std::string &environment, const std::string &arguments) {
  const std::string list = kList;
  makeRunFolder("plain");
  makeRunFolder("terminal");
  runCommand("cd plain && " + environment + " " + kProgram + list + arguments, "out.txt",
             "err.txt");
  return runOnTerminal("cd terminal && " + environment + " " + kProgram + list + arguments +
                       " > out.txt");
}

void expectSameResults() {
  EXPECT_TRUE(readFile("terminal/out.txt") == readFile("plain/out.txt"));
  for (const char *name : kRunResultFiles)
    EXPECT_TRUE(readFile(std::string("terminal/") + name) == readFile(std::string("plain/") + name))
        << name;
}

TEST(ProgressLineRun, DrawnOnTheTerminalRewrittenAndErasedAtTheEnd) {
  ScopedTempDir dir;
  makeStudy();
  makeRunFolder("plain");
  makeRunFolder("terminal");
  // 400 bootstrap iterations on one thread take a second or more.
  const std::string command = "TORVA_THREADS=1 " + kProgram + kList + "2 400";
  ASSERT_EQ(runCommand("cd plain && " + command, "out.txt", "err.txt"), 0);
  const TerminalRun run = runOnTerminal("cd terminal && " + command + " > out.txt");
  ASSERT_EQ(run.status, 0) << run.bytes;
  EXPECT_EQ(run.bytes.rfind("iteration 0/400  0:00 elapsed", 0), 0u) << run.bytes.substr(0, 80);
  EXPECT_EQ(run.bytes.substr(run.bytes.size() - kErase.size()), kErase);
  // Nothing else reached the terminal, and the plain run's standard error is empty too.
  EXPECT_EQ(withoutProgressLine(run.bytes), "");
  EXPECT_EQ(readFile("plain/err.txt"), "");
  // Redrawn about once a second, each time over the erased row: the first drawing, then one
  // per whole second until the erase (the first and the last byte the terminal received).
  const int draws = progressDrawCount(run.bytes);
  const double span = run.spanSeconds;
  EXPECT_GE(draws, 1 + static_cast<int>(span * 0.9 - 0.2)) << span << " s\n" << run.bytes;
  EXPECT_LE(draws, 2 + static_cast<int>(span)) << span << " s\n" << run.bytes;
  EXPECT_EQ(countOf(run.bytes, kErase + "iteration"), progressDrawCount(run.bytes) - 1);
  expectSameResults();
}

TEST(ProgressLineRun, WorkerThreadsCountIterations) {
  ScopedTempDir dir;
  makeStudy();
  const TerminalRun run = runBothWays("TORVA_THREADS=2", "1 0");
  ASSERT_EQ(run.status, 0) << run.bytes;
  EXPECT_EQ(run.bytes.rfind("iteration 0/16  0:00 elapsed", 0), 0u) << run.bytes;
  EXPECT_EQ(withoutProgressLine(run.bytes), "");
  expectSameResults();
}

TEST(ProgressLineRun, NothingDrawnWhenTurnedOffOrNotATerminalOrSharedWithTheOutput) {
  ScopedTempDir dir;
  makeStudy();
  const TerminalRun off = runBothWays("TORVA_PROGRESS=0", "1 0");
  EXPECT_EQ(off.status, 0);
  EXPECT_EQ(off.bytes, "");
  expectSameResults();
  // Standard error redirected while standard output is the terminal: the file gets nothing.
  const TerminalRun redirected =
      runOnTerminal("cd terminal && " + kProgram + kList + "1 0 2> err.txt");
  EXPECT_EQ(redirected.status, 0);
  EXPECT_EQ(readFile("terminal/err.txt"), "");
  // Both streams on one terminal: the progress text scrolls there, and no line tears it.
  EXPECT_TRUE(redirected.bytes == readFile("plain/out.txt"));
}

const char *const kTooManyRegions =
    "maskMethod 0\nnormThreshold 0.2\nbeta 1\nT_gem 5\nT_lbp 5\nMax_ROI 99\n";

// A refusal during the loop (a setting the first iteration reads) erases the line first, so the
// message stands alone on its row, as in a run without a terminal.
TEST(ProgressLineRun, MessagesDuringTheLoopComeOutClean) {
  ScopedTempDir dir;
  makeStudy();
  for (const char *folder : {"plain", "terminal"}) {
    makeRunFolder(folder);
    testsupport::writeFile(std::string(folder) + "/torva.configure", kTooManyRegions);
  }
  const TerminalRun run = runBothWays("TORVA_THREADS=2", "1 0");
  const std::string message = readFile("plain/err.txt");
  ASSERT_FALSE(message.empty());
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(withoutProgressLine(run.bytes), message);
  EXPECT_NE(run.bytes.find(kErase + message), std::string::npos) << run.bytes;
  EXPECT_EQ(run.bytes.substr(run.bytes.size() - message.size()), message);
}

// The note on a study with too little lesion overlap follows the erased line.
TEST(ProgressLineRun, NoteAfterTheErasedLine) {
  ScopedTempDir dir;
  ASSERT_TRUE(testsupport::writeLowOverlapStudy("study"));
  const TerminalRun run = runBothWays("", "1 0");
  ASSERT_EQ(run.status, 0);
  const std::string note = readFile("plain/err.txt");
  ASSERT_EQ(note.rfind("note: no region can be found", 0), 0u) << note;
  EXPECT_EQ(withoutProgressLine(run.bytes), note);
  EXPECT_NE(run.bytes.find(kErase + note), std::string::npos);
  expectSameResults();
}

// The merge draws its line while it reads the shards; its output and results are those of a
// merge without a terminal.
TEST(ProgressLineRun, MergeDrawsItsLinesOnTheTerminal) {
  ScopedTempDir dir;
  makeStudy();
  const std::string list = kList + "1 0";
  for (const char *folder : {"shard0", "shard1", "plain", "terminal"})
    makeRunFolder(folder);
  for (int k = 0; k < 2; ++k)
    ASSERT_EQ(runCommand("cd shard" + std::to_string(k) + " && TORVA_SHARD=" + std::to_string(k) +
                         "/2 " + kProgram + list),
              0);
  const std::string merge = kMerge + list + " ../shard0 ../shard1";
  ASSERT_EQ(runCommand("cd plain && " + merge, "out.txt", "err.txt"), 0);
  const TerminalRun run = runOnTerminal("cd terminal && " + merge + " > out.txt");
  ASSERT_EQ(run.status, 0) << run.bytes;
  EXPECT_EQ(run.bytes.rfind("shard 0/2  0:00 elapsed", 0), 0u) << run.bytes;
  EXPECT_EQ(run.bytes.substr(run.bytes.size() - kErase.size()), kErase);
  EXPECT_EQ(withoutProgressLine(run.bytes), "");
  EXPECT_EQ(readFile("plain/err.txt"), "");
  expectSameResults();
}

// The permutation test counts permutations over all its regions' rounds; its tables and maps
// are those of a run without a terminal.
TEST(ProgressLineRun, PermuteDrawsItsLineOnTheTerminal) {
  ScopedTempDir dir;
  makeStudy();
  makeRunFolder("analysis");
  ASSERT_EQ(runCommand("cd analysis && " + kProgram + kList + "1 0"), 0);
  for (const char *folder : {"plain", "terminal"})
    makeRunFolder(folder);
  const std::string permute =
      "TORVA_THREADS=1 " + kPermute + " --permutations 20000" + kList + "../analysis --out .";
  ASSERT_EQ(runCommand("cd plain && " + permute, "out.txt", "err.txt"), 0);
  const TerminalRun run = runOnTerminal("cd terminal && " + permute + " > out.txt");
  ASSERT_EQ(run.status, 0) << run.bytes;
  EXPECT_EQ(run.bytes.rfind("permutation 0/", 0), 0u) << run.bytes.substr(0, 80);
  EXPECT_EQ(run.bytes.substr(run.bytes.size() - kErase.size()), kErase);
  EXPECT_EQ(withoutProgressLine(run.bytes), "");
  EXPECT_EQ(readFile("plain/err.txt"), "");
  EXPECT_TRUE(readFile("terminal/out.txt") == readFile("plain/out.txt"));
  for (const char *name : {"permutation.tsv", "gain_map.nii", "gain_corrp_map.nii"})
    EXPECT_TRUE(readFile(std::string("terminal/") + name) == readFile(std::string("plain/") + name))
        << name;
}

} // namespace
