#include "merge/shard_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sample_shard.h"

namespace {

using testsupport::sampleShard;

MergeExpectation expectationOf(const ShardFile &shard) {
  return MergeExpectation{shard.fingerprint, shard.method, shard.sizeArgument,
                          shard.iterations,  shard.voxels, shard.representativeShare};
}

// A complete shard file read from `folder`.
FoundShard foundIn(const std::string &folder, const ShardFile &file) {
  FoundShard found;
  found.folder = folder;
  found.readable = true;
  found.file = file;
  return found;
}

std::vector<FoundShard> splitOf(int n) {
  std::vector<FoundShard> shards;
  for (int k = 0; k < n; ++k)
    shards.push_back(foundIn("run/shard_" + std::to_string(k), sampleShard(k, n)));
  return shards;
}

// The folder of a shard whose run left its run folder behind (`live`: the run still holds it),
// or, without one, a folder without a shard file.
FoundShard unfinishedIn(const std::string &folder, const std::string &runFolder, bool live) {
  FoundShard found;
  found.folder = folder;
  found.readError = "cannot open the shard file " + folder + "/shard.torva\n";
  if (runFolder.empty())
    found.fileMissing = true;
  else
    found.runFolders = {runFolder};
  found.running = live;
  return found;
}

class CheckShardSet : public ::testing::Test {
protected:
  // Runs the check and expects a refusal mentioning every piece.
  void expectRefusal(const std::vector<FoundShard> &shards,
                     const std::vector<std::string> &pieces) {
    const std::string message = checkShardSet(shards, expected_);
    ASSERT_FALSE(message.empty());
    for (const std::string &piece : pieces)
      EXPECT_NE(message.find(piece), std::string::npos) << "'" << piece << "' in " << message;
  }
  MergeExpectation expected_ = expectationOf(sampleShard(0, 3));
  std::vector<FoundShard> shards_ = splitOf(3);
};

TEST_F(CheckShardSet, AcceptsACompleteSplitInAnyFolderOrder) {
  EXPECT_EQ(checkShardSet(shards_, expected_), "");
  std::swap(shards_[0], shards_[2]);
  EXPECT_EQ(checkShardSet(shards_, expected_), "");
  EXPECT_EQ(checkShardSet(splitOf(1), expected_), "");
  EXPECT_EQ(checkShardSet(splitOf(13), expected_), "") << "with three empty shards";
}

TEST_F(CheckShardSet, RefusesUnreadableOrCorruptFiles) {
  shards_[1].readable = false;
  shards_[1].readError = "shard file run/shard_1/shard.torva: corrupt (checksum mismatch)\n";
  expectRefusal(shards_, {"run/shard_1", "checksum mismatch"});
  expectRefusal({}, {"no shard folders"});
}

TEST_F(CheckShardSet, RefusesShardsOfAnotherStudy) {
  shards_[2].file.fingerprint.listHash ^= 1;
  expectRefusal(shards_, {"shard folder run/shard_2", "another study"});
  shards_ = splitOf(3);
  shards_[1].file.fingerprint.images[2].voxelHash ^= 1;
  expectRefusal(shards_, {"run/shard_1", "another study"});
  shards_ = splitOf(3);
  shards_[0].file.fingerprint.images.pop_back();
  expectRefusal(shards_, {"run/shard_0", "another study"});
}

TEST_F(CheckShardSet, RefusesAnotherMethodSizeOrVoxelCount) {
  shards_[1].file.method = kJackknife;
  expectRefusal(shards_, {"run/shard_1", "method 1", "method 2"});
  shards_ = splitOf(3);
  shards_[2].file.sizeArgument = 12;
  expectRefusal(shards_, {"run/shard_2", "size 12", "size 10"});
  shards_ = splitOf(3);
  expected_.voxels = 7;
  expectRefusal(shards_, {"run/shard_0", "6 voxels", "has 7"});
}

// A shard run with another representativeShare than the merge's settings give searched with
// another norm test: its models cannot join the run's.
TEST_F(CheckShardSet, RefusesAShardOfAnotherShare) {
  shards_[1].file.representativeShare = 0.1;
  expectRefusal(shards_, {"shard folder run/shard_1", "representativeShare 0.1",
                          "torva.configure gives 0.2"});
  shards_ = splitOf(3);
  expected_.representativeShare = 0.15;
  expectRefusal(shards_, {"run/shard_0", "representativeShare 0.2", "gives 0.15"});
  for (FoundShard &shard : shards_)
    shard.file.representativeShare = 0.15;
  EXPECT_EQ(checkShardSet(shards_, expected_), "");
}

TEST_F(CheckShardSet, RefusesShardsOfDifferentSplits) {
  shards_[2] = splitOf(4)[3];
  expectRefusal(shards_, {"run/shard_3", "shard 3 of 4", "run/shard_0", "shard 0 of 3"});
}

TEST_F(CheckShardSet, RefusesDuplicateAndExtraShards) {
  shards_.push_back(foundIn("again/shard_1", sampleShard(1, 3)));
  expectRefusal(shards_, {"again/shard_1 is extra", "shard 1 of 3", "run/shard_1"});
  shards_ = splitOf(3);
  shards_[2] = foundIn("copy_of_0", sampleShard(0, 3));
  expectRefusal(shards_, {"copy_of_0", "run/shard_0"});
}

// A shard stopped by a scheduler leaves its run folder, or no shard file at all: the merge names
// the shard when the others tell which it is, and says what to do.
TEST_F(CheckShardSet, NamesAShardThatDidNotFinish) {
  shards_[1] = unfinishedIn("run/shard_1", ".torva-run-4711", false);
  EXPECT_EQ(checkShardSet(shards_, expected_),
            "shard 1 of 3 (run/shard_1) did not finish: its run was stopped before it was done "
            "(it left run/shard_1/.torva-run-4711); run that shard again\n");
  shards_[1] = unfinishedIn("run/shard_1", ".torva-run-4711", true);
  EXPECT_EQ(checkShardSet(shards_, expected_),
            "shard 1 of 3 (run/shard_1) did not finish: a run is still writing it "
            "(run/shard_1/.torva-run-4711 is in use); wait for it to end, then merge\n");
  shards_[1] = unfinishedIn("run/shard_1", "", false);
  EXPECT_EQ(checkShardSet(shards_, expected_),
            "shard 1 of 3 (run/shard_1) did not finish: there is no shard.torva in it (the "
            "shard never ran there, or was stopped before it began); run that shard\n");

  // A shard file of an earlier run beside the run folder of a later one that was stopped: the
  // folder's last run did not finish, whatever the file holds.
  shards_ = splitOf(3);
  shards_[2].runFolders = {".torva-run-99"};
  expectRefusal(shards_, {"shard 2 of 3 (run/shard_2) did not finish", ".torva-run-99"});

  // It comes before any other problem of the set.
  shards_[0].file.method = kJackknife;
  expectRefusal(shards_, {"shard 2 of 3 (run/shard_2) did not finish"});

  // No shard finished: the folders given need not be all the shards, so none is numbered.
  EXPECT_EQ(checkShardSet({unfinishedIn("solo", "", false)}, expected_)
                .rfind("shard folder solo did not finish: there is no shard.torva in it", 0),
            0u);
}

// Two folders that did not finish: which holds which shard the others cannot tell (folders
// come in any order), so each is named by its folder, on a line of its own.
TEST_F(CheckShardSet, NamesEveryFolderThatDidNotFinish) {
  shards_[0] = unfinishedIn("run/shard_0", ".torva-run-12", false);
  shards_[2] = unfinishedIn("run/shard_2", "", false);
  const std::string message = checkShardSet(shards_, expected_);
  EXPECT_EQ(message, "shard folder run/shard_0 did not finish: its run was stopped before it was "
                     "done (it left run/shard_0/.torva-run-12); run that shard again\n"
                     "shard folder run/shard_2 did not finish: there is no shard.torva in it "
                     "(the shard never ran there, or was stopped before it began); run that "
                     "shard\n");
  // Nor when the finished shards disagree on the shard count.
  shards_ = splitOf(3);
  shards_[0] = splitOf(4)[0];
  shards_[2] = unfinishedIn("run/shard_2", "", false);
  expectRefusal(shards_, {"shard folder run/shard_2 did not finish"});
}

TEST_F(CheckShardSet, RefusesAMissingShard) {
  shards_.erase(shards_.begin() + 1);
  expectRefusal(shards_, {"shard 1 of 3 is missing"});
  shards_ = splitOf(3);
  shards_.pop_back();
  expectRefusal(shards_, {"shard 2 of 3 is missing"});
}

} // namespace
