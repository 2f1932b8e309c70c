#include "util/extra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

TEST(Unif, StaysInRangeAndReproducesAfterReseeding) {
  std::srand(0);
  std::vector<int> first;
  for (int i = 0; i < 1000; ++i) {
    const int value = unif(7);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 7);
    first.push_back(value);
  }
  std::srand(0);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(unif(7), first[i]);
}

TEST(Unif, FollowsTheFloorOfTheScaledQuotient) {
  std::srand(42);
  const int r = std::rand();
  std::srand(42);
  const int expected = static_cast<int>(std::floor(10 * (r / 2147483646.0)));
  EXPECT_EQ(unif(10), std::min(expected, 9));
}

TEST(Unif, OneChoiceIsAlwaysZero) {
  std::srand(3);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(unif(1), 0);
}

TEST(IndexConversion, CentreAndCornerOfThreeCube) {
  const std::vector<int> dims = {3, 3, 3};
  std::vector<int> conf;
  ind2conf(conf, 13, dims);
  EXPECT_EQ(conf, (std::vector<int>{1, 1, 1}));
  long v = -1;
  conf2ind({2, 0, 1}, v, dims);
  EXPECT_EQ(v, 11);
  conf2ind({}, v, dims);
  EXPECT_EQ(v, 0);
}

TEST(IndexConversion, RoundTripOnAnUnevenVolume) {
  const std::vector<int> dims = {4, 5, 3};
  std::vector<int> conf;
  for (long v = 0; v < 60; ++v) {
    ind2conf(conf, v, dims);
    ASSERT_EQ(conf[0], v % 4);
    ASSERT_EQ(conf[1], (v / 4) % 5);
    ASSERT_EQ(conf[2], v / 20);
    long back = -1;
    conf2ind(conf, back, dims);
    ASSERT_EQ(back, v);
  }
}

TEST(FileExists, MissingFileEndsWithStatusOneAndTheMessage) {
  EXPECT_EXIT(fileExists("/nonexistent/list.txt"), ::testing::ExitedWithCode(1), "");
}
