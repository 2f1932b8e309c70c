#include "shard/shard_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>

#include "support/sample_shard.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

using testsupport::sampleShard;

// --- shard.torva -----------------------------------------------------------------------------

void expectSameShard(const ShardFile &a, const ShardFile &b) {
  EXPECT_TRUE(a.fingerprint == b.fingerprint);
  EXPECT_EQ(a.method, b.method);
  EXPECT_EQ(a.sizeArgument, b.sizeArgument);
  EXPECT_EQ(a.iterations, b.iterations);
  EXPECT_EQ(a.shard.index, b.shard.index);
  EXPECT_EQ(a.shard.count, b.shard.count);
  EXPECT_EQ(a.voxels, b.voxels);
  EXPECT_EQ(a.records, b.records);
  EXPECT_EQ(a.predictions, b.predictions);
  ASSERT_EQ(a.labels.size(), b.labels.size());
  for (std::size_t i = 0; i < a.labels.size(); ++i) {
    std::vector<int> left;
    std::vector<int> right;
    decodeLabelRuns(a.labels[i], left);
    decodeLabelRuns(b.labels[i], right);
    EXPECT_EQ(left, right) << i;
  }
  EXPECT_EQ(a.hasRunLog, b.hasRunLog);
  EXPECT_EQ(a.runLog, b.runLog);
}

TEST(ShardFileFormat, RoundTripsEveryShardOfASplit) {
  testsupport::ScopedTempDir dir;
  for (int k = 0; k < 4; ++k) {
    const ShardFile written = sampleShard(k, 4);
    std::string error;
    ASSERT_TRUE(writeShardFile("shard.torva", written, error)) << error;
    EXPECT_FALSE(testsupport::fileExistsOnDisk("shard.torva.partial"));
    ShardFile read;
    ASSERT_TRUE(readShardFile("shard.torva", read, error)) << error;
    expectSameShard(read, written);
  }
  // An empty middle shard (10 iterations over 12 shards: [5,5)) holds no iterations and no run
  // log.
  const ShardFile empty = sampleShard(6, 12);
  ASSERT_TRUE(empty.records.empty());
  std::string error;
  ASSERT_TRUE(writeShardFile("shard.torva", empty, error)) << error;
  ShardFile read;
  ASSERT_TRUE(readShardFile("shard.torva", read, error)) << error;
  expectSameShard(read, empty);
}

TEST(ShardFileFormat, LabelFieldsAreStoredAsRuns) {
  testsupport::ScopedTempDir dir;
  // 100000 voxels per field, 4 iterations: a field of ints would take 1.6 MB.
  const ShardFile shard = sampleShard(0, 2, 100000);
  std::string error;
  ASSERT_TRUE(writeShardFile("shard.torva", shard, error)) << error;
  EXPECT_LT(readFile("shard.torva").size(), 2000u);
}

TEST(ShardFileFormat, WriterRefusesWhatTheReaderWouldRefuse) {
  testsupport::ScopedTempDir dir;
  std::string error;
  ShardFile wrongIteration = sampleShard(1, 3);
  wrongIteration.records[0][0] = 0;
  EXPECT_FALSE(writeShardFile("shard.torva", wrongIteration, error));
  EXPECT_NE(error.find("iteration 0, expected 3"), std::string::npos) << error;

  ShardFile shortField = sampleShard(1, 3);
  shortField.labels[1][1].length -= 1; // iteration 4: -1, then 3 x -9 now 2, 4, -9
  EXPECT_FALSE(writeShardFile("shard.torva", shortField, error));
  EXPECT_NE(error.find("holds 5 voxels, expected 6"), std::string::npos) << error;

  ShardFile logInMiddle = sampleShard(1, 3);
  logInMiddle.hasRunLog = true;
  EXPECT_FALSE(writeShardFile("shard.torva", logInMiddle, error));

  ShardFile noLogAtEnd = sampleShard(2, 3);
  noLogAtEnd.hasRunLog = false;
  EXPECT_FALSE(writeShardFile("shard.torva", noLogAtEnd, error));

  ShardFile missingRecord = sampleShard(0, 3);
  missingRecord.records.pop_back();
  EXPECT_FALSE(writeShardFile("shard.torva", missingRecord, error));
  EXPECT_FALSE(testsupport::fileExistsOnDisk("shard.torva"));
}

TEST(ShardFileFormat, HeldOutPredictionsRoundTripBitForBitAndAreChecked) {
  testsupport::ScopedTempDir dir;
  std::string error;
  ShardFile exact = sampleShard(0, 1);
  exact.predictions[4] = {{0, 1.0 / 3.0}, {1, 0x1.fffffffffffffp-1}, {2, 0x1p-1074}};
  exact.predictions[5].clear(); // a bootstrap iteration that drew every subject
  ASSERT_TRUE(writeShardFile("shard.torva", exact, error)) << error;
  ShardFile read;
  ASSERT_TRUE(readShardFile("shard.torva", read, error)) << error;
  EXPECT_EQ(read.predictions, exact.predictions);

  ShardFile unordered = sampleShard(1, 3);
  std::swap(unordered.predictions[0][0], unordered.predictions[0][1]);
  EXPECT_FALSE(writeShardFile("shard.torva", unordered, error));
  EXPECT_NE(error.find("held-out predictions of iteration 3"), std::string::npos) << error;

  ShardFile beyondStudy = sampleShard(1, 3); // three images: subjects 0 .. 2
  beyondStudy.predictions[1].push_back({3, 0.5});
  EXPECT_FALSE(writeShardFile("shard.torva", beyondStudy, error));
  EXPECT_NE(error.find("iteration 4"), std::string::npos) << error;

  ShardFile notProbability = sampleShard(1, 3);
  notProbability.predictions[2][0].p = std::nan("");
  EXPECT_FALSE(writeShardFile("shard.torva", notProbability, error));

  ShardFile missing = sampleShard(1, 3);
  missing.predictions.pop_back();
  EXPECT_FALSE(writeShardFile("shard.torva", missing, error));
  EXPECT_NE(error.find("predictions of 2 iterations; its range has 3"), std::string::npos) << error;
}

// Writes the file with `payload` replaced and a matching checksum, as a bad writer would.
std::string resealed(const std::string &file, const std::string &payload) {
  std::string out = file.substr(0, 12);
  for (const std::uint64_t value :
       {static_cast<std::uint64_t>(payload.size()), fnv1a64(payload.data(), payload.size())})
    for (int i = 0; i < 8; ++i)
      out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out + payload;
}

class ShardFileDamage : public ::testing::Test {
protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(writeShardFile("shard.torva", sampleShard(2, 3), error)) << error;
    good_ = readFile("shard.torva");
  }
  std::string readError(const std::string &bytes) {
    writeFile("damaged.torva", bytes);
    ShardFile shard;
    std::string error;
    EXPECT_FALSE(readShardFile("damaged.torva", shard, error));
    EXPECT_NE(error.find("damaged.torva"), std::string::npos) << error;
    return error;
  }
  testsupport::ScopedTempDir dir_;
  std::string good_;
};

TEST_F(ShardFileDamage, EveryTruncationIsRefused) {
  for (std::size_t length = 0; length < good_.size(); ++length) {
    const std::string error = readError(good_.substr(0, length));
    EXPECT_TRUE(error.find("truncated") != std::string::npos ||
                error.find("not a shard file") != std::string::npos)
        << length << ": " << error;
  }
}

TEST_F(ShardFileDamage, EveryFlippedByteIsRefused) {
  for (std::size_t at = 0; at < good_.size(); ++at) {
    std::string bytes = good_;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    readError(bytes);
  }
  EXPECT_NE(readError(good_ + "x").find("after the payload"), std::string::npos);
  std::string newer = good_;
  newer[8] = 4;
  EXPECT_NE(readError(newer).find("version 4, this program reads versions 2 and 3"),
            std::string::npos);
  EXPECT_NE(readError("TORVASHX" + good_.substr(8)).find("not a shard file"), std::string::npos);
}

// A shard written before the held-out predictions (version 1) cannot give the merge's
// prediction files, so it is refused, naming the file, both versions and what to do.
TEST_F(ShardFileDamage, ShardOfTheOlderVersionIsRefused) {
  std::string older = good_;
  older[8] = 1;
  const std::string error = readError(older);
  EXPECT_NE(error.find("shard file damaged.torva: version 1, this program reads versions 2 and "
                       "3; run the shard again"),
            std::string::npos)
      << error;
}

// A shard of version 2 was written before the representativeShare existed, so it ran with the
// default share: its payload, without the share's eight bytes after the voxel count, reads as
// the same shard with 0.2. Version 3 keeps any share bit for bit.
TEST_F(ShardFileDamage, VersionTwoReadsAsTheDefaultShare) {
  ShardFile current;
  std::string error;
  ASSERT_TRUE(readShardFile("shard.torva", current, error)) << error;
  const std::string payload = good_.substr(28);
  const std::size_t share = 12 + 3 * 16 + 5 * 4 + 8; // list hash, images, five i32, voxels
  std::string older = resealed(good_, payload.substr(0, share) + payload.substr(share + 8));
  older[8] = 2;
  writeFile("older.torva", older);
  ShardFile read;
  ASSERT_TRUE(readShardFile("older.torva", read, error)) << error;
  EXPECT_EQ(read.representativeShare, 0.2);
  EXPECT_EQ(read.records, current.records);
  EXPECT_EQ(read.predictions, current.predictions);
  EXPECT_EQ(read.runLog, current.runLog);
  // The same bytes as version 3 are eight bytes too long for version 2.
  std::string mislabelled = good_;
  mislabelled[8] = 2;
  EXPECT_NE(readError(mislabelled).find("corrupt"), std::string::npos);

  ShardFile tenth = sampleShard(2, 3);
  tenth.representativeShare = 0.1;
  ASSERT_TRUE(writeShardFile("tenth.torva", tenth, error)) << error;
  ASSERT_TRUE(readShardFile("tenth.torva", read, error)) << error;
  EXPECT_EQ(read.representativeShare, 0.1);
  for (const double bad : {0.0, 1.0, -0.1, std::nan("")}) {
    tenth.representativeShare = bad;
    EXPECT_FALSE(writeShardFile("bad.torva", tenth, error)) << bad;
    EXPECT_NE(error.find("representativeShare"), std::string::npos) << error;
  }
}

// A well-sealed file whose counts promise more than its bytes hold must be refused before
// anything of that size is allocated.
TEST_F(ShardFileDamage, CountsBeyondTheFileAreRefusedWithAValidChecksum) {
  const std::string payload = good_.substr(28);
  std::string images = payload;
  images[8] = images[9] = images[10] = images[11] = static_cast<char>(0xFF); // image count
  EXPECT_NE(readError(resealed(good_, images)).find("inconsistent lengths"), std::string::npos);

  // Iteration count 2^31-1 in one shard: 2^31 model records from a few hundred bytes.
  std::string iterations = payload;
  const std::size_t at = 12 + 3 * 16 + 8;
  iterations[at] = iterations[at + 1] = iterations[at + 2] = static_cast<char>(0xFF);
  iterations[at + 3] = 0x7F;
  iterations[at + 4] = 0; // shard 0 of 1
  iterations[at + 8] = 1;
  EXPECT_NE(readError(resealed(good_, iterations)).find("corrupt"), std::string::npos);

  EXPECT_NE(readError(resealed(good_, payload.substr(0, payload.size() - 1))).find("corrupt"),
            std::string::npos);
}

TEST(ShardFileFormat, MissingFileIsAnErrorNamingIt) {
  testsupport::ScopedTempDir dir;
  ShardFile shard;
  std::string error;
  EXPECT_FALSE(readShardFile("nowhere/shard.torva", shard, error));
  EXPECT_NE(error.find("nowhere/shard.torva"), std::string::npos);
}

} // namespace
