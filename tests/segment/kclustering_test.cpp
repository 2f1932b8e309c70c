#include "segment/kclustering.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "segment/neighborhood.h"

using Vec = std::vector<double>;
using Labels = std::vector<int>;

namespace {

using testsupport::countOf;

// Nodes 1 .. n-1 and the representative n on an n x 1 x 1 row: a chain in node order.
struct Chain {
  std::vector<int> candidates;
  int representative;
  std::vector<int> dims;
  std::vector<std::vector<int>> nbhd;
  explicit Chain(int n) : representative(n), dims{n, 1, 1} {
    for (int id = 1; id < n; ++id)
      candidates.push_back(id);
    create_nbhd_system_kclustering(nbhd, representative, candidates, dims);
  }
};

struct Result {
  Labels labels;
  Vec values;
  double gvrc = -7.0;
  std::string out;
};

Result segment(const Vec &features, int K, int gemIterations = 5) {
  const Chain chain(static_cast<int>(features.size()));
  Result result;
  testing::internal::CaptureStdout();
  kclustering_lbp_fixed_cluster_number(result.labels, result.values, result.gvrc, chain.candidates,
                                       chain.representative, features, chain.nbhd, chain.dims, 1.0,
                                       gemIterations, 5, K);
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

const Vec kSixNodes{0.1, 0.2, 0.3, 0.8, 0.9, 1.0};

} // namespace

TEST(Potentials, TransitionMatrixSquaresBeforeScaling) {
  Vec T;
  create_transition_matrix_kclsutering(T, {0, 1}, 1.0);
  ASSERT_EQ(T.size(), 4u);
  EXPECT_EQ(T[0], 1.0);
  EXPECT_NEAR(T[1], 0.367879, 5e-7);
  EXPECT_EQ(T[1], T[2]);
  EXPECT_EQ(T[3], 1.0);

  // Values where beta*d*d and beta*(d*d) differ in the last bit tell the two readings apart.
  const double beta = 0.7;
  const double a = 0.1;
  const double b = 0.9;
  const double d = a - b;
  ASSERT_NE(std::exp(-(beta * d * d)), std::exp(-(beta * (d * d))));
  create_transition_matrix_kclsutering(T, {a, b}, beta);
  EXPECT_EQ(T[1], std::exp(-(beta * (d * d))));

  create_transition_matrix_kclsutering(T, {}, 1.0);
  EXPECT_TRUE(T.empty());
}

// Rows of repeated features are copied from an earlier voxel with the same feature; with more
// distinct values than the table holds, slots are shared and overwritten, and every row must
// still be what the formula gives, to the bit. Signed zeros and NaN count as their own values.
TEST(Potentials, EvidenceOfRepeatedFeaturesIsTheFormulaToTheBit) {
  std::mt19937 rng(11);
  Vec distinct;
  for (int k = 0; k <= 130; ++k)
    distinct.push_back(1.0 - static_cast<double>(k) / 130);
  for (int k = 0; k < 6000; ++k)
    distinct.push_back(std::ldexp(static_cast<double>(rng()), -32));
  distinct.push_back(0.0);
  distinct.push_back(-0.0);
  distinct.push_back(std::nan(""));
  Vec features;
  for (int n = 0; n < 40000; ++n)
    features.push_back(distinct[rng() % distinct.size()]);
  const Vec means{-0.0, 0.25, 0.5, 1.0, 7.0};
  Vec E;
  create_evidence_kclustering(E, features, means);
  ASSERT_EQ(E.size(), features.size() * means.size());
  for (std::size_t n = 0; n < features.size(); ++n)
    for (std::size_t j = 0; j < means.size(); ++j) {
      const double d = features[n] - means[j];
      const double expected = std::exp(-(d * d));
      const double actual = E[n * means.size() + j];
      if (std::isnan(expected))
        ASSERT_TRUE(std::isnan(actual)) << "node " << n;
      else
        ASSERT_EQ(actual, expected) << "node " << n << ", mean " << j;
    }
  // A shorter study after a longer one leaves no rows behind.
  create_evidence_kclustering(E, {0.5}, means);
  ASSERT_EQ(E.size(), means.size());
  EXPECT_EQ(E[2], 1.0);
}

TEST(Gvrc, VarianceRatioWithIntegerDegreesOfFreedom) {
  // SST = 0.82, SSW = 0.01, f = 2.
  EXPECT_NEAR(gvrc_kclustering({0, 0.1, 0.9, 1.0}, {0, 0, 1, 1}, {0.05, 0.95}), 162.0, 1e-9);
  // N = 6, K = 3: f = 3/2 truncates to 1, so 0.405 / 0.37 and not 1.5 times that.
  EXPECT_NEAR(gvrc_kclustering(kSixNodes, {0, 1, 1, 1, 1, 2}, {0.1, 0.55, 1.0}), 0.405 / 0.37,
              1e-12);
  // N - K < K - 1: f = 0.
  EXPECT_EQ(gvrc_kclustering({0.1, 0.5, 0.6, 1.0}, {0, 1, 1, 2}, {0.1, 0.55, 1.0}), 0.0);
  EXPECT_TRUE(std::isnan(gvrc_kclustering({}, {}, {0.0, 1.0})));
  EXPECT_TRUE(std::isnan(gvrc_kclustering({0.2, 0.4}, {0, 0}, {0.3})));
}

TEST(FixedClusterNumber, SixNodeChainWithTwoClustersPrintsItsProgress) {
  const Result result = segment(kSixNodes, 2);
  EXPECT_EQ(result.labels, (Labels{0, 0, 0, 1, 1, 1}));
  EXPECT_NEAR(result.gvrc, 73.5, 1e-9);
  const std::string sweeps =
      "Iteration 0 Iteration 1 Iteration 2 Iteration 3 Iteration 4 Free Memory\n";
  const std::string iteration = "cluster=0, mean=0.200000, size=3\n"
                                "cluster=1, mean=0.900000, size=3\n"
                                "GVRC= 73.5\n";
  // The second iteration does not raise the GVRC, so the loop stops there.
  EXPECT_EQ(result.out, "0.1 1\n"
                        "0.1 1 \n"
                        "_______________\n"
                        "GEM Iteration= 0\n" +
                            sweeps + iteration +
                            "_______________\n"
                            "GEM Iteration= 1\n" +
                            sweeps + iteration +
                            "***********\n"
                            "Summary: number of cluster=2, gvrc=73.500000\n"
                            "***********\n");
}

TEST(FixedClusterNumber, SixNodeChainWithThreeClusters) {
  const Result result = segment(kSixNodes, 3);
  EXPECT_EQ(result.labels, (Labels{0, 1, 1, 1, 1, 2}));
  EXPECT_NEAR(result.gvrc, 1.09459, 5e-6);
  EXPECT_NE(result.out.find("0.1 0.55 1 \n"), std::string::npos);
  EXPECT_NE(result.out.find("cluster=1, mean=0.550000, size=4\n"), std::string::npos);
  EXPECT_NE(result.out.find("Summary: number of cluster=3, gvrc=1.094595\n"), std::string::npos);
  EXPECT_EQ(result.values, kSixNodes);
}

TEST(FixedClusterNumber, EqualFeaturesLeaveEmptyClustersAndRunToTheCap) {
  const Result result = segment({0.5, 0.5, 0.5, 0.5}, 3, 3);
  EXPECT_EQ(result.labels, (Labels{0, 0, 0, 0}));
  EXPECT_TRUE(std::isnan(result.gvrc));
  EXPECT_EQ(countOf(result.out, "GEM Iteration="), 3);
  EXPECT_EQ(countOf(result.out, "cluster=0, mean=0.500000, size=4\n"), 3);
  EXPECT_EQ(countOf(result.out, "cluster=1, mean=-1.000000, size=0\n"), 3);
  EXPECT_EQ(countOf(result.out, "cluster=2, mean=-1.000000, size=0\n"), 3);
  EXPECT_EQ(result.out.substr(0, 20), "0.5 0.5\n0.5 0.5 0.5 ");
}

TEST(FixedClusterNumber, ZeroDegreesOfFreedomStopAfterTheSecondIteration) {
  // N = 4, K = 3: every GVRC is 0, and 0 >= 0 ends the loop in iteration 1.
  const Result result = segment({0.1, 0.5, 0.6, 1.0}, 3, 5);
  EXPECT_EQ(result.gvrc, 0.0);
  EXPECT_EQ(countOf(result.out, "GEM Iteration="), 2);
  EXPECT_EQ(countOf(result.out, "GVRC= 0\n"), 2);
  // The returned labelling is the first iteration's.
  EXPECT_EQ(result.labels, segment({0.1, 0.5, 0.6, 1.0}, 3, 1).labels);
}

TEST(FixedClusterNumber, OneIterationWhateverTheCapBelowTwo) {
  for (int cap : {1, 0, -3}) {
    const Result result = segment(kSixNodes, 2, cap);
    EXPECT_EQ(countOf(result.out, "GEM Iteration="), 1) << cap;
    EXPECT_EQ(result.labels, (Labels{0, 0, 0, 1, 1, 1}));
    EXPECT_NEAR(result.gvrc, 73.5, 1e-9);
  }
}

TEST(FixedClusterNumber, IsolatedNodesTakeTheNearestMean) {
  // Without neighbours a belief is the normalised evidence, so each node takes the nearest mean.
  const std::vector<int> dims{12, 1, 1};
  const std::vector<int> candidates{1, 3, 5, 7, 9};
  const Vec features{0.0, 0.05, 0.1, 0.15, 0.6, 1.0};
  std::vector<std::vector<int>> nbhd;
  create_nbhd_system_kclustering(nbhd, 11, candidates, dims);
  Labels labels;
  Vec values;
  double gvrc = 0.0;
  testing::internal::CaptureStdout();
  kclustering_lbp_fixed_cluster_number(labels, values, gvrc, candidates, 11, features, nbhd, dims,
                                       1.0, 2, 5, 2);
  const std::string out = testing::internal::GetCapturedStdout();
  // Means 0 and 1 first: 0.6 joins the upper cluster; then means 0.075 and 0.8 keep it there.
  EXPECT_EQ(labels, (Labels{0, 0, 0, 0, 1, 1}));
  EXPECT_EQ(countOf(out, "GEM Iteration="), 2);
  EXPECT_NEAR(gvrc, gvrc_kclustering(features, labels, {0.075, 0.8}), 1e-12);
}
