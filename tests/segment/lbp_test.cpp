#include "segment/lbp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "segment/kclustering.h"
#include "segment/message.h"
#include "segment/neighborhood.h"
#include "support/lbp_reference.h"

using Vec = std::vector<double>;
using Lists = std::vector<std::vector<int>>;
using testsupport::referenceBeliefs;

namespace {

Vec inferQuietly(int representative, const std::vector<int> &candidates, const Vec &features,
                 const Vec &means, double beta, const Lists &nbhd, const std::vector<int> &dims,
                 int iterations) {
  Vec T, E, beliefs;
  create_transition_matrix_kclsutering(T, means, beta);
  create_evidence_kclustering(E, features, means);
  testing::internal::CaptureStdout();
  lbp_inference(beliefs, representative, candidates, E, T, nbhd, dims, iterations);
  testing::internal::GetCapturedStdout();
  return beliefs;
}

Vec inferOnGraph(const LbpGraph &graph, const Vec &E, const Vec &T, int sweeps) {
  LbpWorkspace workspace;
  Vec beliefs;
  testing::internal::CaptureStdout();
  lbp_inference(beliefs, graph, E, T, sweeps, workspace);
  testing::internal::GetCapturedStdout();
  return beliefs;
}

// The slabs of a plan hold every node once, and every node reads only from nodes of its own
// slab or of the two beside it: the condition under which the wavefront keeps every input of
// every message.
void expectSlabsCoverTheGraph(const LbpGraph &graph) {
  const int N = graph.nodeCount();
  const int slabs = graph.slabCount();
  ASSERT_GE(slabs, 1);
  std::vector<int> slabOfNode(static_cast<std::size_t>(N), -1);
  for (int b = 0; b < slabs; ++b) {
    for (int i = graph.slabGrouped[b]; i < graph.slabGrouped[b + 1]; ++i) {
      ASSERT_EQ(slabOfNode[graph.groupedNodes[i]], -1) << "node " << graph.groupedNodes[i];
      slabOfNode[graph.groupedNodes[i]] = b;
    }
    for (int i = graph.slabUngrouped[b]; i < graph.slabUngrouped[b + 1]; ++i) {
      ASSERT_EQ(slabOfNode[graph.ungroupedNodes[i]], -1) << "node " << graph.ungroupedNodes[i];
      slabOfNode[graph.ungroupedNodes[i]] = b;
    }
    ASSERT_EQ((graph.slabGrouped[b + 1] - graph.slabGrouped[b]) % graph.groupWidth, 0);
  }
  for (int n = 0; n < N; ++n) {
    ASSERT_GE(slabOfNode[n], 0) << "node " << n;
    for (int g = graph.slotOffset[n]; g < graph.slotOffset[n + 1]; ++g)
      if (graph.neighbourNode[g] >= 0) {
        ASSERT_LE(std::abs(slabOfNode[n] - slabOfNode[graph.neighbourNode[g]]), 1)
            << "node " << n << " slot " << g;
      }
  }
}

void expectBeliefs(const Vec &actual, const Vec &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], 5e-6) << "entry " << i;
}

} // namespace

TEST(LbpInference, TwoNodesSettleOnTheProductOfTheirEvidence) {
  const std::vector<int> dims{2, 1, 1};
  Lists nbhd;
  create_nbhd_system_kclustering(nbhd, 2, {1}, dims);
  const Vec features{0.2, 0.9};
  expectBeliefs(inferQuietly(2, {1}, features, {0, 1}, 1.0, nbhd, dims, 0),
                {0.64566, 0.35434, 0.31003, 0.68997});
  for (int sweeps : {1, 2, 5})
    expectBeliefs(inferQuietly(2, {1}, features, {0, 1}, 1.0, nbhd, dims, sweeps),
                  {0.45017, 0.54983, 0.45017, 0.54983});
}

TEST(LbpInference, ThreeNodeChainNeedsTwoSweepsToReachTheEnds) {
  const std::vector<int> dims{4, 1, 1};
  Lists nbhd;
  create_nbhd_system_kclustering(nbhd, 4, {2, 3}, dims);
  const Vec features{0.1, 0.5, 0.95};
  expectBeliefs(inferQuietly(4, {2, 3}, features, {0, 1}, 2.0, nbhd, dims, 1),
                {0.68997, 0.31003, 0.47502, 0.52498, 0.28905, 0.71095});
  for (int sweeps : {2, 3, 5})
    expectBeliefs(inferQuietly(4, {2, 3}, features, {0, 1}, 2.0, nbhd, dims, sweeps),
                  {0.53339, 0.46661, 0.47502, 0.52498, 0.42452, 0.57548});
}

TEST(LbpInference, ZeroSweepsOrNoNeighboursGiveNormalisedEvidence) {
  const std::vector<int> dims{5, 1, 1};
  // Voxel 1 has no member beside it; voxels 3, 4 and 5 form a chain.
  Lists nbhd;
  create_nbhd_system_kclustering(nbhd, 5, {1, 3, 4}, dims);
  const Vec features{0.3, 0.6, 0.9, 0.1};
  const Vec means{0.2, 0.5, 0.8};
  Vec E;
  create_evidence_kclustering(E, features, means);
  auto normalisedEvidence = [&](int n, int s) {
    return E[3 * n + s] / (E[3 * n] + E[3 * n + 1] + E[3 * n + 2]);
  };
  const Vec unswept = inferQuietly(5, {1, 3, 4}, features, means, 1.5, nbhd, dims, 0);
  for (int n = 0; n < 4; ++n)
    for (int s = 0; s < 3; ++s)
      EXPECT_EQ(unswept[3 * n + s], normalisedEvidence(n, s));
  const Vec swept = inferQuietly(5, {1, 3, 4}, features, means, 1.5, nbhd, dims, 4);
  for (int s = 0; s < 3; ++s)
    EXPECT_EQ(swept[s], normalisedEvidence(0, s));
  EXPECT_NE(swept[3], normalisedEvidence(1, 0));
}

TEST(LbpInference, SingleLabelBeliefsAreOne) {
  const std::vector<int> dims{3, 3, 1};
  Lists nbhd;
  const std::vector<int> candidates{1, 2, 4, 6, 9};
  create_nbhd_system_kclustering(nbhd, 5, candidates, dims);
  const Vec beliefs =
      inferQuietly(5, candidates, {0.1, 0.4, 0.7, 0.2, 0.9, 1.0}, {0.5}, 1.0, nbhd, dims, 5);
  EXPECT_EQ(beliefs, Vec(6, 1.0));
}

TEST(LbpInference, PrintsOneMarkerPerSweepThenFreeMemory) {
  const std::vector<int> dims{2, 1, 1};
  Lists nbhd;
  create_nbhd_system_kclustering(nbhd, 2, {1}, dims);
  Vec T, E, beliefs{7.0};
  create_transition_matrix_kclsutering(T, {0, 1}, 1.0);
  create_evidence_kclustering(E, {0.2, 0.9}, {0, 1});
  testing::internal::CaptureStdout();
  lbp_inference(beliefs, 2, {1}, E, T, nbhd, dims, 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Iteration 0 Iteration 1 Iteration 2 Free Memory\n");
  EXPECT_EQ(beliefs.size(), 4u);
  testing::internal::CaptureStdout();
  lbp_inference(beliefs, 2, {1}, E, T, nbhd, dims, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Free Memory\n");
}

TEST(LbpInference, MatchesThePerNodeAlgorithmOnRandomLattices) {
  std::mt19937 rng(20261209);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    const std::vector<int> dims{2 + static_cast<int>(rng() % 6), 2 + static_cast<int>(rng() % 5),
                                1 + static_cast<int>(rng() % 4)};
    const int volume = dims[0] * dims[1] * dims[2];
    std::vector<int> ids(volume);
    for (int v = 0; v < volume; ++v)
      ids[v] = v + 1;
    std::shuffle(ids.begin(), ids.end(), rng);
    const int members = 1 + static_cast<int>(rng() % volume);
    const int representative = ids[0];
    const std::vector<int> candidates(ids.begin() + 1, ids.begin() + members);
    Lists nbhd;
    create_nbhd_system_kclustering(nbhd, representative, candidates, dims);
    const int K = 1 + static_cast<int>(rng() % 12); // fixed-size kernels and the general one
    Vec features(members), means(K);
    for (double &x : features)
      x = unit(rng);
    for (double &mu : means)
      mu = unit(rng);
    const double beta = 0.1 + 3 * unit(rng);
    const int sweeps = static_cast<int>(rng() % 7);
    Vec T, E;
    create_transition_matrix_kclsutering(T, means, beta);
    create_evidence_kclustering(E, features, means);
    const Vec expected = referenceBeliefs(representative, candidates, E, T, nbhd, dims, sweeps);
    const Vec actual =
        inferQuietly(representative, candidates, features, means, beta, nbhd, dims, sweeps);
    ASSERT_EQ(actual, expected) << "trial " << trial;

    // The same set in ascending order through the lattice layout, which stores messages by
    // neighbour offset.
    std::vector<int> ascending = candidates;
    std::sort(ascending.begin(), ascending.end());
    Lists ascendingNbhd;
    create_nbhd_system_kclustering(ascendingNbhd, representative, ascending, dims);
    LbpGraph lattice;
    build_lattice_lbp_graph(lattice, representative, ascending, dims);
    LbpWorkspace workspace;
    Vec latticeBeliefs;
    testing::internal::CaptureStdout();
    lbp_inference(latticeBeliefs, lattice, E, T, sweeps, workspace);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(latticeBeliefs,
              referenceBeliefs(representative, ascending, E, T, ascendingNbhd, dims, sweeps))
        << "trial " << trial << ", lattice layout";
  }
}

TEST(LbpInference, EveryLaneWidthMatchesThePerNodeAlgorithm) {
  // The machine's own width is what the other tests run; the narrower ones serve processors
  // without the wider unit. Blocks big enough for many full groups of eight of every degree, and
  // one to three sweeps, where the first sweep's per-node messages are read. Whole blocks and
  // blocks with holes, so that groups meet both full and partial neighbourhoods.
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::vector<int> dims{20, 6, 4};
  const int volume = dims[0] * dims[1] * dims[2];
  for (int trial = 0; trial < 12; ++trial) {
    const double density = trial % 2 == 0 ? 0.75 : 1.0;
    std::vector<int> members;
    for (int id = 1; id <= volume; ++id)
      if (unit(rng) < density)
        members.push_back(id);
    const int representative = members[members.size() / 2];
    members.erase(members.begin() + static_cast<long>(members.size() / 2));
    Lists nbhd;
    create_nbhd_system_kclustering(nbhd, representative, members, dims);
    const int K = 2 + trial % 4;
    const int sweeps = 1 + trial % 3;
    Vec features(members.size() + 1), means(K), T, E;
    for (double &x : features)
      x = unit(rng);
    for (double &mu : means)
      mu = unit(rng);
    create_transition_matrix_kclsutering(T, means, 0.5 + unit(rng));
    create_evidence_kclustering(E, features, means);
    const Vec expected = referenceBeliefs(representative, members, E, T, nbhd, dims, sweeps);
    LbpGraph graph;
    build_lattice_lbp_graph(graph, representative, members, dims);
    for (int width = 1; width <= lbp_group_width(); width *= 2) {
      group_nodes_by_degree(graph, width);
      if (width == 8) {
        EXPECT_GE(graph.groupedNodes.size(), 64u);
      }
      LbpWorkspace workspace;
      Vec actual;
      testing::internal::CaptureStdout();
      lbp_inference(actual, graph, E, T, sweeps, workspace);
      testing::internal::GetCapturedStdout();
      ASSERT_EQ(actual, expected) << "trial " << trial << ", width " << width;
    }
  }
}

TEST(LbpInference, MatchesThePerNodeAlgorithmOnIrregularGraphs) {
  // Graphs a neighbourhood file may give: duplicate pairs, a node listing itself, and edges
  // whose far end does not list the sender back.
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    const std::vector<int> dims{4, 3, 2};
    const int N = 2 + static_cast<int>(rng() % 20);
    std::vector<int> ids(24);
    for (int v = 0; v < 24; ++v)
      ids[v] = v + 1;
    std::shuffle(ids.begin(), ids.end(), rng);
    const int representative = ids[N - 1];
    const std::vector<int> candidates(ids.begin(), ids.begin() + N - 1);
    Lists nbhd(N);
    for (int n = 0; n < N; ++n) {
      const int degree = static_cast<int>(rng() % 6);
      for (int x = 0; x < degree; ++x) {
        nbhd[n].push_back(0);
        nbhd[n].push_back(ids[rng() % N] - 1);
      }
    }
    const int K = 2 + static_cast<int>(rng() % 7);
    Vec features(N), means(K);
    for (double &x : features)
      x = unit(rng);
    for (double &mu : means)
      mu = unit(rng);
    Vec T, E;
    create_transition_matrix_kclsutering(T, means, 1.0 + unit(rng));
    create_evidence_kclustering(E, features, means);
    const Vec expected = referenceBeliefs(representative, candidates, E, T, nbhd, dims, 5);
    Vec actual;
    testing::internal::CaptureStdout();
    lbp_inference(actual, representative, candidates, E, T, nbhd, dims, 5);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(actual, expected) << "trial " << trial;
  }
}

TEST(LbpInference, ReusedMessageStorageStartsAfresh) {
  // One workspace serves every GEM iteration and cluster count of a segmentation; messages left
  // by an earlier inference must not leak into the next.
  const std::vector<int> dims{6, 5, 2};
  std::vector<int> candidates;
  for (int id = 1; id < 60; ++id)
    candidates.push_back(id);
  Lists nbhd;
  create_nbhd_system_kclustering(nbhd, 60, candidates, dims);
  LbpGraph graph;
  build_lbp_graph(graph, 60, candidates, nbhd, dims);
  Vec features(60);
  for (int n = 0; n < 60; ++n)
    features[n] = (n * 37 % 60) / 60.0;
  LbpWorkspace workspace;
  workspace.reserve(graph, 4);
  testing::internal::CaptureStdout();
  for (int K : {8, 3, 3, 5}) {
    Vec means(K), T, E, reused;
    for (int i = 0; i < K; ++i)
      means[i] = i / (K - 1.0);
    create_transition_matrix_kclsutering(T, means, 1.0);
    create_evidence_kclustering(E, features, means);
    lbp_inference(reused, graph, E, T, 4, workspace);
    EXPECT_EQ(reused, referenceBeliefs(60, candidates, E, T, nbhd, dims, 4)) << K;
  }
  testing::internal::GetCapturedStdout();
}

TEST(LbpInference, AnEdgeWithoutReverseSlotDeliversAllOnes) {
  // Voxel 1 lists voxel 2, which lists nobody: nothing is ever sent back to voxel 1, so both
  // beliefs stay the normalised evidence.
  const std::vector<int> dims{2, 1, 1};
  const Lists nbhd{{0, 1}, {}};
  Vec T, E, beliefs;
  create_transition_matrix_kclsutering(T, {0, 1}, 1.0);
  create_evidence_kclustering(E, {0.2, 0.9}, {0, 1});
  testing::internal::CaptureStdout();
  lbp_inference(beliefs, 2, {1}, E, T, nbhd, dims, 3);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(beliefs.size(), 4u);
  EXPECT_EQ(beliefs[0], E[0] / (E[0] + E[1]));
  EXPECT_EQ(beliefs[2], E[2] / (E[2] + E[3]));
}

// The wavefront route on lattices cut into the thinnest slabs their neighbours allow, at every
// lane width: blocks several slices deep, single slices (whose slabs are runs of rows), holes,
// the representative anywhere, K from 1 to 12 and 0 to 6 sweeps.
TEST(LbpWavefront, MatchesThePerNodeAlgorithmOnRandomLattices) {
  std::mt19937 rng(2312);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int wavefronts = 0;
  for (int trial = 0; trial < 48; ++trial) {
    const bool singleSlice = trial % 4 == 3;
    const std::vector<int> dims{3 + static_cast<int>(rng() % 8), 2 + static_cast<int>(rng() % 6),
                                singleSlice ? 1 : 3 + static_cast<int>(rng() % 6)};
    const int volume = dims[0] * dims[1] * dims[2];
    const double density = trial % 3 == 0 ? 1.0 : 0.4 + 0.5 * unit(rng);
    std::vector<int> members;
    for (int id = 1; id <= volume; ++id)
      if (unit(rng) < density)
        members.push_back(id);
    if (members.size() < 2)
      continue;
    const std::size_t at = rng() % members.size();
    const int representative = members[at];
    members.erase(members.begin() + static_cast<long>(at));
    Lists nbhd;
    create_nbhd_system_kclustering(nbhd, representative, members, dims);
    const int K = 1 + trial % 12;
    const int sweeps = trial % 7;
    Vec features(members.size() + 1), means(K), T, E;
    for (double &x : features)
      x = unit(rng);
    for (double &mu : means)
      mu = unit(rng);
    create_transition_matrix_kclsutering(T, means, 0.1 + 3 * unit(rng));
    create_evidence_kclustering(E, features, means);
    const Vec expected = referenceBeliefs(representative, members, E, T, nbhd, dims, sweeps);
    LbpGraph lattice;
    build_lattice_lbp_graph(lattice, representative, members, dims);
    LbpGraph fromLists;
    build_lbp_graph(fromLists, representative, members, nbhd, dims);
    for (LbpGraph *graph : {&lattice, &fromLists}) {
      plan_lbp_wavefront(*graph, 1);
      wavefronts += graph->slabCount() >= 3;
      for (int width = 1; width <= lbp_group_width(); width *= 2) {
        group_nodes_by_degree(*graph, width);
        expectSlabsCoverTheGraph(*graph);
        ASSERT_EQ(inferOnGraph(*graph, E, T, sweeps), expected)
            << "trial " << trial << ", width " << width << ", " << graph->slabCount() << " slabs"
            << (graph == &lattice ? ", lattice layout" : ", list layout");
      }
    }
  }
  EXPECT_GE(wavefronts, 40); // most cases take the wavefront, not the whole sweeps
}

// Graphs of a neighbourhood file whose neighbours lie a few nodes apart, so that they too cut
// into slabs: duplicate pairs, nodes listing themselves and edges without a reverse slot.
TEST(LbpWavefront, MatchesThePerNodeAlgorithmOnIrregularBandedGraphs) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::vector<int> dims{10, 8, 1};
  for (int trial = 0; trial < 30; ++trial) {
    const int N = 12 + static_cast<int>(rng() % 60);
    const int reach = 1 + static_cast<int>(rng() % 4);
    // Node n < N-1 is voxel n; the representative (last node) is the voxel after them.
    std::vector<int> candidates(N - 1);
    for (int n = 0; n + 1 < N; ++n)
      candidates[n] = n + 1;
    const int representative = N;
    Lists nbhd(N);
    for (int n = 0; n < N; ++n) {
      const int degree = static_cast<int>(rng() % 7);
      for (int x = 0; x < degree; ++x) {
        const int u = std::clamp(n + static_cast<int>(rng() % (2 * reach + 1)) - reach, 0, N - 1);
        nbhd[n].push_back(0);
        nbhd[n].push_back(u);
      }
    }
    const int K = 2 + static_cast<int>(rng() % 8);
    const int sweeps = static_cast<int>(rng() % 7);
    Vec features(N), means(K), T, E;
    for (double &x : features)
      x = unit(rng);
    for (double &mu : means)
      mu = unit(rng);
    create_transition_matrix_kclsutering(T, means, 1.0 + unit(rng));
    create_evidence_kclustering(E, features, means);
    LbpGraph graph;
    build_lbp_graph(graph, representative, candidates, nbhd, dims);
    const int bound = plan_lbp_wavefront(graph, 1);
    EXPECT_LE(bound, 2 * reach) << "trial " << trial; // the last node may sit between
    ASSERT_GE(graph.slabCount(), N > 6 * reach ? 3 : 1) << "trial " << trial;
    expectSlabsCoverTheGraph(graph);
    ASSERT_EQ(inferOnGraph(graph, E, T, sweeps),
              referenceBeliefs(representative, candidates, E, T, nbhd, dims, sweeps))
        << "trial " << trial << ", " << graph.slabCount() << " slabs";
  }
}

TEST(LbpWavefront, BuildersPlanSlabsOfWholeSlicesForLargeRegions) {
  // A 30 x 30 x 12 block: the z neighbours lie one slice (900 nodes) apart, so slabs hold at
  // least a slice and there are several of them; a plan with slabs larger than the graph keeps
  // one slab. Both routes give the same bits.
  const std::vector<int> dims{30, 30, 12};
  std::vector<int> members;
  for (int id = 1; id <= 30 * 30 * 12; ++id)
    if (id % 7 != 0)
      members.push_back(id);
  const int representative = members[5000];
  members.erase(members.begin() + 5000);
  LbpGraph graph;
  build_lattice_lbp_graph(graph, representative, members, dims);
  EXPECT_GE(graph.slabCount(), 3);
  expectSlabsCoverTheGraph(graph);
  const int bound = plan_lbp_wavefront(graph, kLbpWavefrontSlabNodes);
  EXPECT_GE(bound, 900 * 6 / 7 - 1);
  EXPECT_LE(bound, 905);
  Vec features(members.size() + 1), T, E;
  for (std::size_t n = 0; n < features.size(); ++n)
    features[n] = static_cast<double>((n * 7919) % 131) / 131;
  const Vec means{0.1, 0.5, 0.9};
  create_transition_matrix_kclsutering(T, means, 1.0);
  create_evidence_kclustering(E, features, means);
  const Vec wavefront = inferOnGraph(graph, E, T, 5);
  plan_lbp_wavefront(graph, INT_MAX);
  EXPECT_EQ(graph.slabCount(), 1);
  EXPECT_TRUE(graph.slabNodes.empty());
  EXPECT_EQ(inferOnGraph(graph, E, T, 5), wavefront);
}
