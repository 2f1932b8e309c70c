#include "report/run_results.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "report/result_folder.h"
#include "support/temp_dir.h"

namespace {

// Shares printed with six decimals; the smallest iteration count that explains them.
TEST(RunIterations, SmallestCountThatMakesEveryShareWhole) {
  EXPECT_EQ(smallestIterationCount({0.25, 0.75}, 1), 4);
  EXPECT_EQ(smallestIterationCount({0.333333, 0.666667}, 1), 3);
  EXPECT_EQ(smallestIterationCount({0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.4}, 1), 10);
  // One model: any count fits, so only the mode's iteration id bounds it (mode first in 7).
  EXPECT_EQ(smallestIterationCount({1.0}, 8), 8);
  // 0.25 + 0.25 is not a whole run.
  EXPECT_EQ(smallestIterationCount({0.25, 0.25}, 1), 0);
}

class RunDescriptionOfFolder : public ::testing::Test {
protected:
  void SetUp() override {
    mkdir("run", 0755);
    reportfixture::writeTwoRegionRun("run");
  }
  testsupport::ScopedTempDir dir;
  RunResults results;
};

// Five subjects in log.el.torva. The last iteration saw 4 (one left out): a jackknife of 5.
TEST_F(RunDescriptionOfFolder, JackknifeLeavesOneSubjectOut) {
  ASSERT_EQ(loadRunResults("run", results), "");
  const RunDescription run = describeRun(results);
  EXPECT_EQ(run.method, "jackknife");
  EXPECT_EQ(run.iterations, "5");
}

// All 5 drawn: a bootstrap, with shares 0.2 and 0.8 of at least 5 iterations.
TEST_F(RunDescriptionOfFolder, BootstrapDrawsEverySubjectCount) {
  testsupport::writeFile("run/log.torva", "TORVA Log\nsample_length 5\n");
  ASSERT_EQ(loadRunResults("run", results), "");
  const RunDescription run = describeRun(results);
  EXPECT_EQ(run.method, "bootstrap");
  EXPECT_EQ(run.iterations, "at least 5");
}

TEST_F(RunDescriptionOfFolder, WithoutTheRunLogTheMethodIsNotRecorded) {
  std::remove("run/log.torva");
  ASSERT_EQ(loadRunResults("run", results), "");
  EXPECT_EQ(describeRun(results).method, "not recorded");
}

TEST_F(RunDescriptionOfFolder, ResultImageGivesTheGridAndTheSformAffine) {
  ASSERT_EQ(loadRunResults("run", results), "");
  EXPECT_EQ(results.frequency.sizeText(), "4 x 3 x 2");
  EXPECT_DOUBLE_EQ(results.frequency.voxelVolume(), 24.0);
  const auto mm = results.frequency.world(3, 2, 1); // -2 * 3 + 10, 3 * 2 - 20, 4 + 30
  EXPECT_DOUBLE_EQ(mm[0], 4.0);
  EXPECT_DOUBLE_EQ(mm[1], -14.0);
  EXPECT_DOUBLE_EQ(mm[2], 34.0);
  EXPECT_EQ(results.network.getNodeCount(), 3);
}

// Without an sform the qform applies: no rotation, voxel sizes 2, 3, 4 and offsets of 500 mm.
TEST_F(RunDescriptionOfFolder, QformWhenTheSformCodeIsZero) {
  ImageGeometry g = reportfixture::resultGeometry(true);
  g.sformCode = 0;
  const std::vector<float> percent(24, 0.0f);
  std::string error;
  ASSERT_TRUE(writeNiftiImage("run/prob_map_torvael.nii", "run/prob_map_torvael.nii",
                              percent.data(), "NIFTI_TYPE_FLOAT32", 4, 3, 2, g, error));
  ASSERT_EQ(loadRunResults("run", results), "");
  const auto mm = results.frequency.world(1, 1, 1);
  EXPECT_FLOAT_EQ(mm[0], 502.0);
  EXPECT_FLOAT_EQ(mm[1], 503.0);
  EXPECT_FLOAT_EQ(mm[2], 504.0);
}

} // namespace
