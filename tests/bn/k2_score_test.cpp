#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "bn/bn.h"
#include "bn/bn_fixtures.h"
#include "util/gammaln.h"

namespace {

// Straightforward reference: sum_j [ lnG(r a) - lnG(r a + N_j) + sum_k (lnG(a + N_jk) - lnG(a)) ]
// with the C library's lgamma.
double referenceScore(const std::vector<double> &counts, int r, double alpha) {
  const int q = static_cast<int>(counts.size()) / r;
  double score = 0.0;
  for (int j = 0; j < q; ++j) {
    double nj = 0.0;
    for (int k = 0; k < r; ++k) {
      nj += counts[j + k * q];
      score += std::lgamma(alpha + counts[j + k * q]) - std::lgamma(alpha);
    }
    score += std::lgamma(r * alpha) - std::lgamma(r * alpha + nj);
  }
  return score;
}

} // namespace

TEST(K2Score, TwoNodeNetworkBothPriors) {
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  // ln(11! 9! / 21!)
  EXPECT_NEAR(bn.K2ScoreNode(0, 1), -15.07600, 5e-6);
  EXPECT_NEAR(bn.K2ScoreNode(1, 1), -7.18539, 5e-6);
  EXPECT_NEAR(bn.K2ScoreNode(1, 2), -6.28752, 5e-6);
  EXPECT_DOUBLE_EQ(bn.K2Score(1), bn.K2ScoreNode(0, 1) + bn.K2ScoreNode(1, 1));
  // Any prior other than 2 is the K2 prior.
  EXPECT_EQ(bn.K2ScoreNode(1, 0), bn.K2ScoreNode(1, 1));
}

TEST(K2Score, ZeroCountsScoreExactlyZero) {
  BN bn;
  bn.setSize(2, {2, 3});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  EXPECT_EQ(bn.K2ScoreNode(1, 1), 0.0);
  EXPECT_EQ(bn.K2ScoreNode(1, 2), 0.0);
}

TEST(K2Score, NetworkWithoutTablesScoresZero) {
  BN bn;
  bn.setSize(3, {2, 2, 2});
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(bn.K2ScoreNode(i, 1), 0.0);
  EXPECT_EQ(bn.K2Score(1), 0.0);
  EXPECT_EQ(bn.BDeuScore(1.0), 0.0);
}

TEST(K2Score, FamilyScoreMatchesNodeScoreBitForBitAndAReference) {
  std::srand(7);
  for (int trial = 0; trial < 200; ++trial) {
    const int r = 2 + trial % 3;
    const int q = 1 << (trial % 4);
    std::vector<double> counts(static_cast<std::size_t>(r * q));
    for (double &n : counts)
      n = std::rand() % 60;
    const double k2 = k2FamilyScore(counts.data(), r * q, r, 1);
    EXPECT_NEAR(k2, referenceScore(counts, r, 1.0), 1e-7 * (1 + std::fabs(k2)));
    const double k2Uniform = k2FamilyScore(counts.data(), r * q, r, 2);
    EXPECT_NEAR(k2Uniform, referenceScore(counts, r, 1.0 / (r * q)),
                1e-7 * (1 + std::fabs(k2Uniform)));
  }
  // The node score reads the same table through the network.
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  const std::vector<double> &table = bn.getCPD(1);
  EXPECT_EQ(k2FamilyScore(table.data() + 2, 4, 2, 1), bn.K2ScoreNode(1, 1));
  EXPECT_EQ(k2FamilyScore(table.data() + 2, 4, 2, 2), bn.K2ScoreNode(1, 2));
}

TEST(Gammaln, KnownValues) {
  EXPECT_NEAR(gammaln(1.0), 0.0, 1e-15);
  EXPECT_NEAR(gammaln(2.0), 0.0, 1e-15);
  EXPECT_NEAR(gammaln(0.5), 0.5723649429, 1e-10);
  EXPECT_NEAR(gammaln(10.0), 12.8018274801, 1e-10);
}

TEST(Gammaln, TableIsBitIdenticalToTheSeriesOverItsWholeRange) {
  for (int n = 1; n < kGammalnTableSize; ++n)
    ASSERT_EQ(gammaln(static_cast<double>(n)), gammalnSeries(static_cast<double>(n))) << n;
  // Just outside the table and between whole numbers the series answers directly.
  for (const double x :
       {0.25, 0.5, 1.5, 2.75, 299.5, double(kGammalnTableSize), double(kGammalnTableSize) + 0.5})
    EXPECT_EQ(gammaln(x), gammalnSeries(x)) << x;
}

TEST(Gammaln, SeriesAgreesWithTheLibraryLogGamma) {
  // The six-term series is accurate to about 2e-10 relative; anything worse is a wrong
  // coefficient or sum.
  for (double x = 0.05; x < 5000; x *= 1.37)
    EXPECT_NEAR(gammalnSeries(x), std::lgamma(x), 1e-9 * (1 + std::fabs(std::lgamma(x)))) << x;
}
