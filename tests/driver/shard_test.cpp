#include "driver/shard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>

#include "data/study_reader.h"
#include "driver/resampling.h"
#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// --- TORVA_SHARD -----------------------------------------------------------------------------

TEST(ShardPosition, AcceptsWholeNumbersWithKBelowN) {
  ShardPosition position;
  std::string error;
  ASSERT_TRUE(parseShardPosition("0/1", position, error));
  EXPECT_EQ(position.index, 0);
  EXPECT_EQ(position.count, 1);
  ASSERT_TRUE(parseShardPosition("12/100", position, error));
  EXPECT_EQ(position.index, 12);
  EXPECT_EQ(position.count, 100);
  ASSERT_TRUE(parseShardPosition("007/08", position, error));
  EXPECT_EQ(position.index, 7);
  EXPECT_EQ(position.count, 8);
}

TEST(ShardPosition, RefusesAnythingElseNamingTheVariableAndValue) {
  for (const char *text : {"", "4/4", "5/4", "-1/4", "1/0", "0/0", "+1/4", " 1/4", "1/4 ", "1.0/4",
                           "1/4/5", "a/b", "1/", "/4", "1", "0x1/4", "1/9999999999"}) {
    ShardPosition position{3, 9};
    std::string error;
    EXPECT_FALSE(parseShardPosition(text, position, error)) << text;
    EXPECT_NE(error.find(std::string("TORVA_SHARD=\"") + text + "\""), std::string::npos) << error;
    EXPECT_EQ(position.index, 3) << "a refused value leaves the position alone: " << text;
    EXPECT_EQ(position.count, 9);
  }
}

// --- Ranges ----------------------------------------------------------------------------------

TEST(ShardRange, WorkedSplits) {
  // 10 iterations in 3 shards: 3, 3, 4.
  EXPECT_EQ(shardRange(10, {0, 3}).first, 0);
  EXPECT_EQ(shardRange(10, {0, 3}).last, 3);
  EXPECT_EQ(shardRange(10, {1, 3}).last, 6);
  EXPECT_EQ(shardRange(10, {2, 3}).first, 6);
  EXPECT_EQ(shardRange(10, {2, 3}).last, 10);
  // 2 iterations in 5 shards: [0,0) [0,0) [0,1) [1,1) [1,2).
  const int firsts[] = {0, 0, 0, 1, 1};
  const int lasts[] = {0, 0, 1, 1, 2};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(shardRange(2, {k, 5}).first, firsts[k]) << k;
    EXPECT_EQ(shardRange(2, {k, 5}).last, lasts[k]) << k;
  }
  // No overflow in K*I at the top of the int range.
  EXPECT_EQ(shardRange(2147483647, {999, 1000}).last, 2147483647);
  EXPECT_EQ(shardRange(2147483647, {1, 2}).first, 1073741823);
}

class ShardRangeCover : public ::testing::TestWithParam<int> {};

// For every N from 1 to past the iteration count: the shards' ranges, in K order, run through
// 0 .. I-1 once without gap or overlap, differ in size by at most one, and the last shard holds
// the last iteration (it carries the run log).
TEST_P(ShardRangeCover, EveryIterationExactlyOnceInOrder) {
  const int iterations = GetParam();
  for (int count = 1; count <= iterations + 3; ++count) {
    int next = 0;
    int smallest = iterations;
    int largest = 0;
    for (int k = 0; k < count; ++k) {
      const IterationRange range = shardRange(iterations, {k, count});
      ASSERT_EQ(range.first, next) << "N=" << count << " K=" << k;
      ASSERT_GE(range.size(), 0);
      next = range.last;
      smallest = std::min(smallest, range.size());
      largest = std::max(largest, range.size());
    }
    EXPECT_EQ(next, iterations) << "N=" << count;
    EXPECT_LE(largest - smallest, 1) << "N=" << count;
    EXPECT_EQ(shardRange(iterations, {count - 1, count}).size() > 0, true) << "N=" << count;
  }
}

INSTANTIATE_TEST_SUITE_P(IterationCounts, ShardRangeCover, ::testing::Values(1, 2, 7, 10, 64));

// --- Draws -----------------------------------------------------------------------------------

std::vector<std::vector<int>> wholeRunDraws(int method, int subjects, int iterations) {
  std::srand(0);
  std::vector<std::vector<int>> draws(static_cast<std::size_t>(iterations));
  for (int P = 0; P < iterations; ++P)
    chooseSubjects(draws[P], method, subjects, P);
  return draws;
}

// Each shard starts from srand(0) as its own process does; joined in K order its draws must be
// the whole run's, iteration by iteration.
TEST(ShardDraws, JoinedShardsDrawWhatTheWholeRunDraws) {
  const int subjects = 9;
  const int iterations = 12;
  for (const int method : {kBootstrap, kJackknife}) {
    const auto whole = wholeRunDraws(method, subjects, iterations);
    for (int count = 1; count <= iterations + 2; ++count) {
      std::vector<std::vector<int>> joined;
      for (int k = 0; k < count; ++k) {
        std::srand(0);
        const auto part = drawShardSubjects(method, subjects, shardRange(iterations, {k, count}));
        joined.insert(joined.end(), part.begin(), part.end());
      }
      EXPECT_EQ(joined, whole) << "method " << method << ", N=" << count;
    }
  }
  // The bootstrap iterations differ from each other, so a shard that skipped the earlier draws
  // would be caught above.
  const auto bootstrap = wholeRunDraws(kBootstrap, subjects, iterations);
  EXPECT_NE(bootstrap[0], bootstrap[5]);
}

TEST(ShardDraws, KeepsOnlyTheRangeOutOfTheDrawsBeforeIt) {
  const std::vector<std::vector<int>> draws = {{0}, {1}, {2}, {3}, {4}};
  EXPECT_EQ(keepShardDraws(draws, {2, 4}), (std::vector<std::vector<int>>{{2}, {3}}));
  EXPECT_TRUE(keepShardDraws(draws, {3, 3}).empty());
  EXPECT_EQ(keepShardDraws(draws, {0, 5}), draws);
}

// --- Fingerprint -----------------------------------------------------------------------------

TEST(Fingerprint, Fnv1aReferenceValuesAndContinuation) {
  EXPECT_EQ(fnv1a64("", 0), 0xcbf29ce484222325ull);
  EXPECT_EQ(fnv1a64("a", 1), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(fnv1a64("foobar", 6), 0x85944171f73967e8ull);
  EXPECT_EQ(fnv1a64("bar", 3, fnv1a64("foo", 3)), 0x85944171f73967e8ull);
}

// Two subjects of 2x2x1 voxels; the list names them relative to the working directory.
void writeTinyStudy(int secondType, const std::vector<double> &secondVoxels) {
  ASSERT_TRUE(testsupport::writeTestImage("s1.nii", DT_UINT8, 2, 2, 1, {1, 0, 0, 1}));
  ASSERT_TRUE(testsupport::writeTestImage("s2.nii", secondType, 2, 2, 1, secondVoxels));
  writeFile("list.txt", "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n1 s1.nii 0\n2 s2.nii 1\n");
}

TEST(Fingerprint, TellsStudiesApartByListVoxelsAndFileSize) {
  testsupport::ScopedTempDir dir;
  StudyFingerprint base;
  FileList list;
  std::string error;
  writeTinyStudy(DT_UINT8, {0, 1, 1, 0});
  ASSERT_TRUE(fingerprintStudy("list.txt", list, base, error)) << error;
  EXPECT_EQ(list.subjects.size(), 2u);
  ASSERT_EQ(base.images.size(), 2u);
  const unsigned char s1[] = {1, 0, 0, 1};
  EXPECT_EQ(base.images[0].voxelHash, fnv1a64(s1, 4));
  EXPECT_EQ(base.images[0].fileSize, readFile("s1.nii").size());
  EXPECT_EQ(base.listHash, fnv1a64(readFile("list.txt").data(), readFile("list.txt").size()));

  StudyFingerprint again;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, again, error));
  EXPECT_TRUE(again == base);

  // One voxel of subject 2 changed: only that image's voxel hash moves.
  writeTinyStudy(DT_UINT8, {0, 1, 1, 1});
  StudyFingerprint voxel;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, voxel, error));
  EXPECT_EQ(voxel.listHash, base.listHash);
  EXPECT_TRUE(voxel.images[0] == base.images[0]);
  EXPECT_NE(voxel.images[1].voxelHash, base.images[1].voxelHash);
  EXPECT_FALSE(voxel == base);

  // Same states stored as 16-bit values: same voxel hash, larger file.
  writeTinyStudy(DT_INT16, {0, 1, 1, 0});
  StudyFingerprint wider;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, wider, error));
  EXPECT_EQ(wider.images[1].voxelHash, base.images[1].voxelHash);
  EXPECT_GT(wider.images[1].fileSize, base.images[1].fileSize);

  // An outcome flipped in the list: the list hash moves.
  writeTinyStudy(DT_UINT8, {0, 1, 1, 0});
  writeFile("list.txt", "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n1 s1.nii 1\n2 s2.nii 1\n");
  StudyFingerprint outcome;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, outcome, error));
  EXPECT_NE(outcome.listHash, base.listHash);
}

TEST(Fingerprint, MissingImageIsAnErrorNamingIt) {
  testsupport::ScopedTempDir dir;
  writeTinyStudy(DT_UINT8, {0, 1, 1, 0});
  std::remove("s2.nii");
  StudyFingerprint fingerprint;
  FileList list;
  std::string error;
  EXPECT_FALSE(fingerprintStudy("list.txt", list, fingerprint, error));
  EXPECT_NE(error.find("s2.nii"), std::string::npos) << error;
}

// --- Label runs ------------------------------------------------------------------------------

TEST(LabelRuns, WorkedRunsAndRoundTrip) {
  const std::vector<int> labels = {-9, -9, -1, 0, 0, 0, 20};
  const LabelRuns runs = encodeLabelRuns(labels);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].value, -9);
  EXPECT_EQ(runs[0].length, 2u);
  EXPECT_EQ(runs[2].value, 0);
  EXPECT_EQ(runs[2].length, 3u);
  EXPECT_EQ(runs[3].value, 20);
  std::vector<int> back = {5};
  decodeLabelRuns(runs, back);
  EXPECT_EQ(back, labels);
  EXPECT_TRUE(encodeLabelRuns({}).empty());
}

// --- shard.torva -----------------------------------------------------------------------------

// A consistent shard K of N of a 10-iteration bootstrap over `voxels` voxels.
ShardFile sampleShard(int k, int n, std::uint64_t voxels = 6) {
  ShardFile shard;
  shard.fingerprint.listHash = 0x1234567890abcdefull;
  shard.fingerprint.images = {{352, 11}, {352, 22}, {400, 0xffffffffffffffffull}};
  shard.method = kBootstrap;
  shard.sizeArgument = 10;
  shard.iterations = 10;
  shard.shard = {k, n};
  shard.voxels = voxels;
  const IterationRange range = shardRange(shard.iterations, shard.shard);
  for (int P = range.first; P < range.last; ++P) {
    shard.records.push_back(makeModelRecord(P, {P + 1, 3}));
    std::vector<int> labels(voxels, -9);
    labels[static_cast<std::size_t>(P) % voxels] = P % 21;
    labels[0] = -1;
    shard.labels.push_back(encodeLabelRuns(labels));
    // Out of bag: the subjects after the iteration's number, one of them at p = 1.
    IterationPredictions predictions;
    for (int subject = P % 3; subject < 3; ++subject)
      predictions.push_back({subject, subject == 2 ? 1.0 : 0.05 * P + 0.0625 * subject});
    shard.predictions.push_back(predictions);
  }
  shard.hasRunLog = range.last == shard.iterations;
  if (shard.hasRunLog)
    shard.runLog = "TORVA Log\nsample_length 10\n";
  return shard;
}

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

// --- The merge's check -----------------------------------------------------------------------

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
