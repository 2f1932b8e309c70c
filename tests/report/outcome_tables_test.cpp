#include "report/outcome_tables.h"

#include <gtest/gtest.h>

#include "bn/bn.h"
#include "support/temp_dir.h"

namespace {

// The network of the hand-made run: P(X0 = 1) = 0.6, P(X1 = 1) = 0.4 and P(outcome 1 | X0, X1)
// = 0.2 (0,0), 0.6 (1,0), 0.5 (0,1), 0.9 (1,1). Averaging out the other voxel:
//   P(1 | X0 = 0) = 0.2 * 0.6 + 0.5 * 0.4 = 0.32    P(1 | X0 = 1) = 0.6 * 0.6 + 0.9 * 0.4 = 0.72
//   P(1 | X1 = 0) = 0.2 * 0.4 + 0.6 * 0.6 = 0.44    P(1 | X1 = 1) = 0.5 * 0.4 + 0.9 * 0.6 = 0.74
TEST(OutcomeGivenRegion, AveragesTheOtherRegionsByTheirPriors) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("bn.el.torva", "3\n2 2 2 \n0 \n0 \n2 0 1 \n2 0.4 0.6 \n2 0.6 0.4 \n"
                                        "8 0.8 0.4 0.5 0.1 0.2 0.6 0.5 0.9 \n");
  BN network;
  ASSERT_TRUE(network.readFile("bn.el.torva"));
  const auto first = outcomeGivenRegion(network, 0);
  const auto second = outcomeGivenRegion(network, 1);
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_NEAR(first[0][1], 0.32, 1e-12);
  EXPECT_NEAR(first[1][1], 0.72, 1e-12);
  EXPECT_NEAR(second[0][1], 0.44, 1e-12);
  EXPECT_NEAR(second[1][1], 0.74, 1e-12);
  EXPECT_NEAR(first[1][0] + first[1][1], 1.0, 1e-12);
  // The outcome is no parent of itself.
  EXPECT_TRUE(outcomeGivenRegion(network, 2).empty());
}

} // namespace
