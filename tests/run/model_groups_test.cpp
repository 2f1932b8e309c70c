#include "results/model_record.h"
#include "run/model_groups.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

ModelRecord record(int iteration, const std::vector<int> &ids) {
  return makeModelRecord(iteration, ids);
}

// Records of consecutive iterations holding the given models.
std::vector<ModelRecord> records(const std::vector<std::vector<int>> &models) {
  std::vector<ModelRecord> out;
  for (std::size_t i = 0; i < models.size(); ++i)
    out.push_back(record(static_cast<int>(i), models[i]));
  return out;
}

TEST(ModelIdentity, SameSetInAnyOrderButNotEqualSums) {
  EXPECT_TRUE(sameModel(record(0, {5, 9}), record(1, {9, 5})));
  EXPECT_TRUE(sameModel(record(0, {3, 1, 2}), record(4, {2, 3, 1})));
  EXPECT_TRUE(sameModel(record(0, {}), record(1, {})));
  // Equal id sums are different models.
  EXPECT_FALSE(sameModel(record(0, {5, 9}), record(1, {6, 8})));
  // A model with one more region differs even if the common ids agree.
  EXPECT_FALSE(sameModel(record(0, {5, 9}), record(1, {5, 9, 1})));
  EXPECT_FALSE(sameModel(record(0, {}), record(1, {4})));
}

TEST(ModelGrouping, OrderOfIdsDoesNotMatterButIdentityDoes) {
  const auto recs = records({{5, 9}, {9, 5}, {6, 8}});
  ModelTable table;
  groupModels(recs, table);
  EXPECT_EQ(table.modelIds, (std::vector<int>{0, 2}));
  EXPECT_EQ(table.modelFreqs, (std::vector<int>{2, 1}));
}

TEST(ModelGrouping, InterleavedModelsKeepFirstOccurrenceOrder) {
  const auto recs = records({{7}, {}, {7}, {3, 4}, {}, {4, 3}, {7}});
  ModelTable table;
  groupModels(recs, table);
  EXPECT_EQ(table.modelIds, (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(table.modelFreqs, (std::vector<int>{3, 2, 2}));
}

TEST(ModelMode, EarliestOfTiedModelsWins) {
  EXPECT_EQ(modelMode({2, 5, 5}), 1);
  EXPECT_EQ(modelMode({4}), 0);
  EXPECT_EQ(modelMode({1, 1, 1}), 0);
  EXPECT_EQ(modelMode({1, 2, 3}), 2);
}

// Models first seen at iterations 0, 3 and 7 with frequencies 3, 5, 5: the model of iteration 3
// is the mode, with members 3, 4, 5, 6 and 8.
TEST(ModelMode, TiedModesReportTheEarlierModelAndItsMembers) {
  const std::vector<int> a = {10, 20}, b = {30}, c = {40, 50};
  const std::vector<int> bSwapped = {30};
  const auto recs = records({a, a, a, b, b, b, b, c, bSwapped, {50, 40}, c, c, c});
  ModelTable table;
  groupModels(recs, table);
  ASSERT_EQ(table.modelIds, (std::vector<int>{0, 3, 7}));
  ASSERT_EQ(table.modelFreqs, (std::vector<int>{3, 5, 5}));
  const int best = modelMode(table.modelFreqs);
  EXPECT_EQ(table.modelIds[best], 3);
  std::vector<int> members;
  modeMembers(recs, *recordOfIteration(recs, 3), members);
  EXPECT_EQ(members, (std::vector<int>{3, 4, 5, 6, 8}));
  EXPECT_EQ(modelFileText(table, best, 13), "model ensemble includes\n3 \ndifferent models\n"
                                            "model with highest frequency is model \n3 \nfreq=\n"
                                            "0.384615\nmodel freq=\n0.230769 0.384615 0.384615 \n");
}

TEST(ModelMembers, OnlyRecordsOfTheSameSetAreMembers) {
  const auto recs = records({{5, 9}, {6, 8}, {9, 5}, {5, 9, 2}, {5}, {5, 9}});
  std::vector<int> members;
  modeMembers(recs, recs[0], members);
  EXPECT_EQ(members, (std::vector<int>{0, 2, 5}));
  modeMembers(recs, recs[1], members);
  EXPECT_EQ(members, (std::vector<int>{1}));
}

TEST(ModelFile, SharesAreSortedAndDividedInSinglePrecision) {
  ModelTable table;
  table.modelIds = {0, 4};
  table.modelFreqs = {27, 2};
  // The mode's share is a double division (27/29 = 0.931034...); the listed shares are
  // float divisions (0.931035 after rounding the float quotient).
  EXPECT_EQ(modelFileText(table, 0, 29), "model ensemble includes\n2 \ndifferent models\n"
                                         "model with highest frequency is model \n0 \nfreq=\n"
                                         "0.931034\nmodel freq=\n0.068966 0.931035 \n");
}

TEST(ModelFile, SingleModelOfAJackknifeRun) {
  ModelTable table;
  table.modelIds = {0};
  table.modelFreqs = {30};
  EXPECT_EQ(modelFileText(table, 0, 30), "model ensemble includes\n1 \ndifferent models\n"
                                         "model with highest frequency is model \n0 \nfreq=\n"
                                         "1.000000\nmodel freq=\n1.000000 \n");
}

TEST(ModelProgress, ModelLinesAndMembersLine) {
  ModelTable table;
  table.modelIds = {0, 2};
  table.modelFreqs = {2, 1};
  ::testing::internal::CaptureStdout();
  printModels(table);
  printModeMembers(0, {0, 1});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "model=0, frq=2\nmodel=2, frq=1\nthe model mode is #0, including 0 1 \n");
}

} // namespace
