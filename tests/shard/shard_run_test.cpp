// A run split into shards and merged must be the whole run: every result byte, and the shards'
// and the merge's standard output concatenated in shard order, whatever order the shards ran
// in, one after another or at the same time.
#include <gtest/gtest.h>

#include <string>

#include "data/decoded_study.h"
#include "shard/fingerprint.h"
#include "support/study_fingerprint.h"
#include "support/temp_dir.h"

namespace {

using testsupport::fingerprintStudy;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;

const std::string kProgram = TORVACOREEL_PATH;
const std::string kMerge = TORVACOREEL_MERGE_PATH;
const auto &kResults = testsupport::kRunResultFiles;
using testsupport::makeRunFolder;

struct ShardCase {
  const char *name;
  const char *arguments;
  int shards;
  bool together; // all shards started at once
};

void PrintTo(const ShardCase &c, std::ostream *out) { *out << c.name; }

class ShardsMerged : public ::testing::TestWithParam<ShardCase> {};

TEST_P(ShardsMerged, GiveTheWholeRun) {
  const ShardCase c = GetParam();
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --seed 2"),
            0);
  const std::string list = " study/torva.prj.filelist ";
  makeRunFolder("whole");
  ASSERT_EQ(runCommand("cd whole && " + kProgram + list + c.arguments, "out.txt", "err.txt"), 0);

  // Shards started last first, or all at once in the background.
  std::string shardsCommand;
  std::string folders;
  for (int k = c.shards - 1; k >= 0; --k) {
    const std::string folder = "shard" + std::to_string(k);
    makeRunFolder(folder);
    shardsCommand += "(cd " + folder + " && TORVA_SHARD=" + std::to_string(k) + "/" +
                     std::to_string(c.shards) + " " + kProgram + list + c.arguments +
                     " > out.txt 2> err.txt; echo $? > status.txt)" + (c.together ? " & " : "; ");
    folders = " ../" + folder + folders;
  }
  ASSERT_EQ(std::system((shardsCommand + "wait").c_str()), 0);
  std::string concatenated;
  for (int k = 0; k < c.shards; ++k) {
    const std::string folder = "shard" + std::to_string(k) + "/";
    EXPECT_EQ(readFile(folder + "status.txt"), "0\n") << readFile(folder + "err.txt");
    concatenated += readFile(folder + "out.txt");
  }
  makeRunFolder("merged");
  ASSERT_EQ(
      runCommand("cd merged && " + kMerge + list + c.arguments + folders, "out.txt", "err.txt"), 0)
      << readFile("merged/err.txt");
  concatenated += readFile("merged/out.txt");
  EXPECT_TRUE(concatenated == readFile("whole/out.txt"));
  EXPECT_EQ(readFile("merged/err.txt"), "");
  for (const char *name : kResults) {
    ASSERT_TRUE(testsupport::fileExistsOnDisk(std::string("whole/") + name)) << name;
    EXPECT_TRUE(readFile(std::string("merged/") + name) == readFile(std::string("whole/") + name))
        << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ShardsMerged,
    ::testing::Values(ShardCase{"jackknife_three_in_turn", "1 0", 3, false},
                      ShardCase{"bootstrap_three_at_once", "2 7", 3, true},
                      ShardCase{"bootstrap_more_shards_than_iterations", "2 3", 5, true}),
    [](const ::testing::TestParamInfo<ShardCase> &info) { return std::string(info.param.name); });

// Shards run with representativeShare 0.15 (each folder's torva.configure) merge into the whole
// run of that share, byte for byte; a merge whose own settings give another share, the default
// included, refuses them, naming a shard folder and both shares.
TEST(ShardsMergedWithAShare, GiveTheWholeRunOfTheShareAndRefuseAnother) {
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --seed 2"),
            0);
  const std::string settings = "m 0 t 0.2 b 1 g 5 l 5 r 3 s -1 n 0 v 0 representativeShare 0.15\n";
  const std::string list = " study/torva.prj.filelist 2 5";
  std::string folders;
  for (const char *folder : {"whole", "shard0", "shard1", "merged", "plain"}) {
    makeRunFolder(folder);
    if (std::string(folder) != "plain")
      testsupport::writeFile(std::string(folder) + "/torva.configure", settings);
  }
  ASSERT_EQ(runCommand("cd whole && " + kProgram + list, "out.txt", "err.txt"), 0);
  for (const char *k : {"0", "1"})
    ASSERT_EQ(
        runCommand(std::string("cd shard") + k + " && TORVA_SHARD=" + k + "/2 " + kProgram + list,
                   "out.txt", "err.txt"),
        0)
        << readFile("err.txt");
  ASSERT_EQ(runCommand("cd merged && " + kMerge + list + " ../shard0 ../shard1"), 0)
      << readFile("merged/stderr.txt");
  for (const char *name : kResults)
    EXPECT_TRUE(readFile(std::string("merged/") + name) == readFile(std::string("whole/") + name))
        << name << " differs";
  EXPECT_EQ(runCommand("cd plain && " + kMerge + list + " ../shard1 ../shard0"), 1);
  EXPECT_EQ(readFile("plain/stderr.txt"),
            "shard folder ../shard1 holds a shard of a run with representativeShare 0.15, this "
            "merge's torva.configure gives 0.2; run every shard and the merge with the same "
            "settings\n");
  EXPECT_FALSE(testsupport::fileExistsOnDisk("plain/model.el.torva"));
}

// The merge reads the images once; its fingerprint must be the one a plain reading gives.
TEST(ShardFingerprint, OfTheDecodedStudyEqualsThePlainReading) {
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 5 --size 4 4 2 --format pair"),
            0);
  DecodedStudy study;
  ASSERT_FALSE(static_cast<bool>(decodeStudy("study/torva.prj.filelist", 2, study, true)));
  StudyFingerprint decoded;
  StudyFingerprint plain;
  FileList list;
  std::string error;
  ASSERT_TRUE(fingerprintOfDecoded("study/torva.prj.filelist", study, decoded, error)) << error;
  ASSERT_TRUE(fingerprintStudy("study/torva.prj.filelist", list, plain, error)) << error;
  EXPECT_TRUE(decoded == plain);
  EXPECT_EQ(decoded.images.size(), 5u);
  DecodedStudy withoutHashes;
  ASSERT_FALSE(static_cast<bool>(decodeStudy("study/torva.prj.filelist", 1, withoutHashes)));
  EXPECT_FALSE(fingerprintOfDecoded("study/torva.prj.filelist", withoutHashes, decoded, error));
}

TEST(ShardVariable, MalformedValueIsRefusedBeforeAnyOutput) {
  ScopedTempDir dir;
  ASSERT_EQ(
      runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) + " --out study --subjects 4 --size 4 4 2"),
      0);
  for (const char *bad : {"3/3", "1/0", "a/2", "1-2", ""}) {
    EXPECT_EQ(runCommand(std::string("TORVA_SHARD='") + bad + "' " + kProgram +
                         " study/torva.prj.filelist 2 4"),
              2)
        << bad;
    EXPECT_EQ(readFile("stdout.txt"), "") << bad;
    EXPECT_NE(readFile("stderr.txt").find("TORVA_SHARD"), std::string::npos) << bad;
  }
}

} // namespace
