#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn/bn_fixtures.h"
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
