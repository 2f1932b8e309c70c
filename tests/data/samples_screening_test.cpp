#include <gtest/gtest.h>

#include <cstdio>

#include "data/samples.h"
#include "roi/study_builder.h"

namespace {

// Four voxels over five cases with norms 0, 1, 2, 5.
void fourVoxelStudy(Samples &study) {
  roitest::makeStudy(study, 2, 2, 1, {"00000", "00100", "10010", "11111"}, "01010");
}

} // namespace

TEST(PreThreshold, TypeZeroDropsAllZeroVoxelsOnly) {
  Samples study;
  roitest::makeStudy(study, 3, 1, 1, {"0000", "0000", "0100"}, "0101");
  std::vector<int> kept = {99};
  study.pre_threshold(kept, 0, 0.2);
  EXPECT_EQ(kept, (std::vector<int>{2}));
}

TEST(PreThreshold, TypeOneKeepsNormsAtOrAboveTheThreshold) {
  Samples study;
  fourVoxelStudy(study);
  std::vector<int> kept;
  study.pre_threshold(kept, 1, 2.0); // a norm equal to the threshold passes
  EXPECT_EQ(kept, (std::vector<int>{2, 3}));
  study.pre_threshold(kept, 1, 0.2);
  EXPECT_EQ(kept, (std::vector<int>{1, 2, 3}));
  study.pre_threshold(kept, 1, 5.0); // th equal to the case count is in range
  EXPECT_EQ(kept, (std::vector<int>{3}));
  study.pre_threshold(kept, 1, 0.0);
  EXPECT_EQ(kept, (std::vector<int>{0, 1, 2, 3}));
}

// The messages go to standard output; the child sends it to standard error for the matcher.
TEST(PreThresholdDeathTest, ThresholdOutsideZeroToCaseCountEndsWithStatusOne) {
  Samples study;
  fourVoxelStudy(study);
  std::vector<int> kept;
  EXPECT_EXIT(
      {
        std::freopen("/dev/stderr", "w", stdout);
        study.pre_threshold(kept, 1, -0.1);
      },
      ::testing::ExitedWithCode(1), "Error: th MUST be greater than 0\n");
  EXPECT_EXIT(
      {
        std::freopen("/dev/stderr", "w", stdout);
        study.pre_threshold(kept, 1, 5.5);
      },
      ::testing::ExitedWithCode(1), "Error: th MUST be less than sample size\n");
}
