#include "results/label_runs.h"

#include <gtest/gtest.h>

#include <vector>

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
