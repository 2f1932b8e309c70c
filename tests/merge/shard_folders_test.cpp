#include "merge/shard_folders.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/study_reader.h"
#include "run/resampling_method.h"
#include "support/nifti_image.h"
#include "support/study_fingerprint.h"
#include "support/temp_dir.h"

namespace {

using testsupport::expectationOfStudy;
using testsupport::fingerprintStudy;

// The study of the shards below: 7 subjects.
StudyFingerprint sevenSubjects() {
  StudyFingerprint fingerprint;
  fingerprint.listHash = 42;
  fingerprint.images.assign(7, ImageFingerprint{});
  return fingerprint;
}

// What the merge of the shards below expects.
MergeExpectation sevenIterationJackknife() {
  MergeExpectation expected;
  expected.fingerprint = sevenSubjects();
  expected.method = kJackknife;
  expected.iterations = 7;
  expected.voxels = 4;
  return expected;
}

// Shard K of 3 of a 7-iteration jackknife over 4 voxels, written to folder `folder`; iteration
// P predicts its left-out subject P at P / 8.
void writeShardIn(const std::string &folder, int k) {
  ShardFile shard;
  shard.fingerprint = sevenSubjects();
  shard.method = kJackknife;
  shard.sizeArgument = 0;
  shard.iterations = 7;
  shard.shard = {k, 3};
  shard.voxels = 4;
  const IterationRange range = shardRange(7, shard.shard);
  for (int P = range.first; P < range.last; ++P) {
    shard.records.push_back(makeModelRecord(P, {P + 1}));
    shard.labels.push_back(encodeLabelRuns({P, P, -9, -1}));
    shard.predictions.push_back({{P, P / 8.0}});
  }
  shard.hasRunLog = k == 2;
  shard.runLog = shard.hasRunLog ? "log of iteration 6\n" : "";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  std::string error;
  ASSERT_TRUE(writeShardFile(folder + "/shard.torva", shard, error)) << error;
}

// Folders given out of order (as a shell glob sorts shard_10 before shard_2) still join into
// iteration order, with the run log of the shard holding iteration 6.
TEST(ShardFolders, JoinInShardOrderWhateverTheFolderOrder) {
  testsupport::ScopedTempDir dir;
  writeShardIn("a", 2);
  writeShardIn("b", 0);
  writeShardIn("c", 1);
  std::vector<FoundShard> shards = readShardFolders({"a", "b", "c"});
  ASSERT_EQ(shards.size(), 3u);
  for (const FoundShard &found : shards)
    ASSERT_TRUE(found.readable) << found.readError;
  EXPECT_EQ(shards[0].folder, "a");
  const MergeExpectation expected = sevenIterationJackknife();
  ASSERT_EQ(checkShardSet(shards, expected), "");

  const MergedRun run = joinShards(shards);
  ASSERT_EQ(run.records.size(), 7u);
  ASSERT_EQ(run.labels.size(), 7u);
  ASSERT_EQ(run.predictions.size(), 7u);
  for (int P = 0; P < 7; ++P) {
    EXPECT_EQ(run.predictions[P], (IterationPredictions{{P, P / 8.0}}));
    EXPECT_EQ(run.records[P][0], P);
    EXPECT_EQ(run.records[P][2], P + 1);
    std::vector<int> labels;
    decodeLabelRuns(run.labels[P], labels);
    EXPECT_EQ(labels, (std::vector<int>{P, P, -9, -1}));
  }
  EXPECT_EQ(run.runLog, "log of iteration 6\n");

  // The run log is then the one a whole run's loop leaves.
  startMergedRunLog(run);
  EXPECT_EQ(testsupport::readFile("log.torva"), "log of iteration 6\n");
}

TEST(ShardFolders, AFolderWithoutAShardFileIsReportedByTheCheck) {
  testsupport::ScopedTempDir dir;
  writeShardIn("a", 0);
  ASSERT_EQ(mkdir("empty", 0755), 0);
  const std::vector<FoundShard> shards = readShardFolders({"a", "empty"});
  EXPECT_TRUE(shards[0].readable);
  EXPECT_FALSE(shards[1].readable);
  const MergeExpectation expected = sevenIterationJackknife();
  const std::string message = checkShardSet(shards, expected);
  EXPECT_NE(message.find("shard folder empty did not finish: there is no shard.torva in it"),
            std::string::npos)
      << message;
  // A folder that is not there is not a shard that did not finish.
  const std::vector<FoundShard> gone = readShardFolders({"a", "nowhere"});
  EXPECT_FALSE(gone[1].fileMissing);
  EXPECT_NE(checkShardSet(gone, expected)
                .find("shard folder nowhere: cannot open the shard file nowhere/shard.torva"),
            std::string::npos);
}

// The run folders a shard's run leaves: one whose run was stopped (its lock is free), one a run
// still holds, and beside them a shard file of an earlier run. Shard 0 and 2 are complete.
TEST(ShardFolders, RunFoldersLeftInAShardFolderAreNoted) {
  testsupport::ScopedTempDir dir;
  writeShardIn("a", 0);
  writeShardIn("b", 1);
  writeShardIn("c", 2);
  ASSERT_EQ(mkdir("b/.torva-run-4711", 0700), 0);
  testsupport::writeFile("b/.torva-run-4711/.lock", "");
  std::vector<FoundShard> shards = readShardFolders({"a", "b", "c"});
  EXPECT_TRUE(shards[0].finished());
  EXPECT_EQ(shards[1].runFolders, std::vector<std::string>{".torva-run-4711"});
  EXPECT_FALSE(shards[1].running);
  const MergeExpectation expected = sevenIterationJackknife();
  EXPECT_EQ(checkShardSet(shards, expected),
            "shard 1 of 3 (b) did not finish: its run was stopped before it was done (it left "
            "b/.torva-run-4711); run that shard again\n");

  // A live run holds the lock of its folder.
  const int lock = open("b/.torva-run-4711/.lock", O_RDWR | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  shards = readShardFolders({"a", "b", "c"});
  EXPECT_TRUE(shards[1].running);
  EXPECT_NE(checkShardSet(shards, expected).find("a run is still writing it"), std::string::npos);
  close(lock);
}

TEST(ShardFolders, ExpectationOfTheMergesOwnStudy) {
  testsupport::ScopedTempDir dir;
  ASSERT_TRUE(testsupport::writeTestImage("s1.nii", DT_UINT8, 2, 2, 1, {1, 0, 0, 1}));
  ASSERT_TRUE(testsupport::writeTestImage("s2.nii", DT_UINT8, 2, 2, 1, {0, 1, 1, 0}));
  ASSERT_TRUE(testsupport::writeTestImage("s3.nii", DT_UINT8, 2, 2, 1, {0, 0, 1, 0}));
  testsupport::writeFile("list.txt", "subjects 3\nnodes 5\nsize 2 2 1\nid file fv\n"
                                     "1 s1.nii 0\n2 s2.nii 1\n3 s3.nii 1\n");
  MergeExpectation expected;
  std::string error;
  // The jackknife runs one iteration per subject whatever the size argument.
  ASSERT_TRUE(expectationOfStudy("list.txt", kJackknife, 9, expected, error)) << error;
  EXPECT_EQ(expected.iterations, 3);
  EXPECT_EQ(expected.sizeArgument, 9);
  EXPECT_EQ(expected.voxels, 4u);
  StudyFingerprint fingerprint;
  FileList list;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, fingerprint, error));
  EXPECT_TRUE(expected.fingerprint == fingerprint);
  ASSERT_TRUE(expectationOfStudy("list.txt", kBootstrap, 9, expected, error));
  EXPECT_EQ(expected.iterations, 9);
  EXPECT_FALSE(expectationOfStudy("nolist.txt", kBootstrap, 9, expected, error));
  EXPECT_NE(error.find("nolist.txt"), std::string::npos);
}

} // namespace
