#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bn/bn_fixtures.h"
#include "data/conf_index.h"
#include "data/samples.h"

TEST(SamplesDistribution, CountsInListOrderFirstFastest) {
  Samples data;
  bntest::fillSamples(data, {"012", "102", "112", "110"}, 3);
  std::vector<double> counts = {42};
  // Columns (2, 0): index s2 + 3 s0.
  data.getDistribution(counts, {2, 0});
  std::vector<double> expected(9, 0.0);
  expected[2 + 0] = 1;
  expected[2 + 3] = 2;
  expected[0 + 3] = 1;
  EXPECT_EQ(counts, expected);
  // A repeated column counts on the diagonal only.
  data.getDistribution(counts, {1, 1});
  EXPECT_EQ(counts, (std::vector<double>{1, 0, 0, 0, 3, 0, 0, 0, 0}));
  // No columns: one configuration holding every case.
  data.getDistribution(counts, {});
  EXPECT_EQ(counts, (std::vector<double>{4}));
}

TEST(SamplesDistribution, StridesFollowTheMatrixStateCounts) {
  Samples data;
  bntest::fillSamples(data, {"21", "01"});
  data.setNs({3, 2});
  std::vector<double> counts;
  std::vector<long> strides;
  ASSERT_TRUE(data.getDistribution(counts, {0, 1}, strides));
  EXPECT_EQ(strides, (std::vector<long>{1, 3, 6}));
  EXPECT_EQ(counts, (std::vector<double>{0, 0, 0, 1, 0, 1}));
}

TEST(SamplesDistribution, BadCellsAndColumnsNeverIndexOutside) {
  Samples data;
  bntest::fillSamples(data, {"00", "0\x80", "19", "11"});
  std::vector<double> counts;
  testing::internal::CaptureStderr();
  data.getDistribution(counts, {0, 1});
  std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("case 1 of column 1 holds byte -128"), std::string::npos) << message;
  EXPECT_NE(message.find("case 2 of column 1 holds byte 57"), std::string::npos) << message;
  EXPECT_EQ(counts, (std::vector<double>{1, 0, 0, 1}));

  std::vector<long> strides;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(data.getDistribution(counts, {0, 2}, strides));
  message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("column 2 is outside the 2 columns"), std::string::npos) << message;
  EXPECT_TRUE(counts.empty());
}

TEST(SamplesDistribution, MatchesPlainCountOnRandomColumnLists) {
  // Reference: gather each case's bytes and index them with conf2ind_wq.
  std::srand(17);
  const int nodes = 7;
  const int cases = 90;
  Samples data;
  data.setSize(nodes, cases);
  std::vector<int> ns(nodes);
  for (int &r : ns)
    r = 1 + std::rand() % 3;
  data.setNs(ns);
  for (int c = 0; c < cases; ++c)
    for (int i = 0; i < nodes; ++i)
      data.setCell(c, i, static_cast<char>('0' + std::rand() % ns[i]));
  std::vector<double> counts;
  std::vector<long> strides;
  for (int trial = 0; trial < 60; ++trial) {
    std::vector<int> columns(static_cast<std::size_t>(trial % 7));
    for (int &column : columns)
      column = std::rand() % nodes;
    ASSERT_TRUE(data.getDistribution(counts, columns, strides));
    std::vector<long> w = {1};
    for (const int column : columns)
      w.push_back(w.back() * ns[column]);
    std::vector<double> expected(static_cast<std::size_t>(w.back()), 0.0);
    std::string values(columns.size(), '0');
    for (int c = 0; c < cases; ++c) {
      for (std::size_t t = 0; t < columns.size(); ++t)
        values[t] = data.cell(c, columns[t]);
      long index = 0;
      conf2ind_wq(values.data(), index, w);
      expected[index] += 1;
    }
    ASSERT_EQ(counts, expected) << "trial " << trial;
  }
}
