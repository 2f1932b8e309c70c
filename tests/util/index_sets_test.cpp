#include "util/index_sets.h"

#include <gtest/gtest.h>

TEST(SetMinus, RemovesOneOccurrencePerElementAndSorts) {
  std::vector<int> a = {9, 3, 7, 3, 1};
  std::vector<int> result = {42};
  set_minus(result, a, {3, 8});
  EXPECT_EQ(result, (std::vector<int>{1, 3, 7, 9}));
}

TEST(SetMinus, TakingTheOnlyElementLeavesNothing) {
  std::vector<int> a = {5};
  std::vector<int> result;
  set_minus(result, a, {5});
  EXPECT_TRUE(result.empty());
}

TEST(SetMinus2, KeepsDistinctValuesAbsentFromB) {
  std::vector<int> result = {1};
  set_minus2(result, {8, 2, 2, 5, 11, 5}, {5, 40, 2});
  EXPECT_EQ(result, (std::vector<int>{8, 11}));
}

TEST(SetMinus2, RegionTakingEveryCandidateEmptiesTheSet) {
  std::vector<int> result;
  set_minus2(result, {1, 2, 3}, {3, 2, 1});
  EXPECT_TRUE(result.empty());
}

TEST(SetCopy, ReplacesTheDestination) {
  std::vector<int> dst = {1, 2, 3};
  set_copy(dst, {7});
  EXPECT_EQ(dst, (std::vector<int>{7}));
}
