#include "shard/plan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "run/resampling_method.h"

namespace {

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
        const IterationRange range = shardRange(iterations, {k, count});
        std::vector<std::vector<int>> chosen;
        chooseAllSubjects(chosen, method, subjects, range.first, range.last);
        ASSERT_EQ(chosen.size(), static_cast<std::size_t>(range.last));
        // The earlier iterations' draws are made and dropped.
        for (int P = 0; P < range.first; ++P)
          EXPECT_TRUE(chosen[P].empty()) << P;
        joined.insert(joined.end(), chosen.begin() + range.first, chosen.end());
      }
      EXPECT_EQ(joined, whole) << "method " << method << ", N=" << count;
    }
  }
  // The bootstrap iterations differ from each other, so a shard that skipped the earlier draws
  // would be caught above.
  const auto bootstrap = wholeRunDraws(kBootstrap, subjects, iterations);
  EXPECT_NE(bootstrap[0], bootstrap[5]);
}

} // namespace
