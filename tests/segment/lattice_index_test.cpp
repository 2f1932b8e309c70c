#include "segment/lattice_index.h"

#include <gtest/gtest.h>

#include <vector>

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
