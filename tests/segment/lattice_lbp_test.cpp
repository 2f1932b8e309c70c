// The lattice route treats a missing neighbour as one sending 1.0 and keeps messages by sender
// in rows; its beliefs must be the plain per-node algorithm's to the bit, at every lane width,
// on whole blocks and on sets with holes, in bands of any height.
#include "segment/lattice_lbp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "segment/kclustering.h"
#include "segment/neighborhood.h"
#include "support/helper_threads.h"
#include "support/lbp_reference.h"
#include "util/helper_pool.h"

using Vec = std::vector<double>;

namespace {

struct LatticeCase {
  std::vector<int> dims;
  std::vector<int> candidates; // ascending, without the representative
  int representative = 0;
  Vec E;
  Vec T;
  int sweeps = 0;
};

// Members of the volume kept with probability `density`; the representative drawn among them.
LatticeCase randomCase(std::mt19937 &rng, const std::vector<int> &dims, double density, int K,
                       int sweeps) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  LatticeCase c;
  c.dims = dims;
  c.sweeps = sweeps;
  const int volume = dims[0] * dims[1] * dims[2];
  for (int id = 1; id <= volume; ++id)
    if (unit(rng) < density)
      c.candidates.push_back(id);
  if (c.candidates.empty())
    c.candidates.push_back(1 + static_cast<int>(rng() % volume));
  const std::size_t at = rng() % c.candidates.size();
  c.representative = c.candidates[at];
  c.candidates.erase(c.candidates.begin() + static_cast<long>(at));
  Vec features(c.candidates.size() + 1), means(K);
  for (double &x : features)
    x = static_cast<double>(rng() % 132) / 131; // similarities repeat, as in a study
  for (double &mu : means)
    mu = unit(rng);
  create_transition_matrix_kclsutering(c.T, means, 0.1 + 3 * unit(rng));
  create_evidence_kclustering(c.E, features, means);
  return c;
}

Vec expectedBeliefs(const LatticeCase &c) {
  std::vector<std::vector<int>> nbhd;
  create_nbhd_system_kclustering(nbhd, c.representative, c.candidates, c.dims);
  return testsupport::referenceBeliefs(c.representative, c.candidates, c.E, c.T, nbhd, c.dims,
                                       c.sweeps);
}

Vec latticeBeliefs(const LatticeLbpGraph &graph, const LatticeCase &c,
                   LatticeLbpWorkspace &workspace, std::string *progress = nullptr) {
  Vec beliefs;
  testing::internal::CaptureStdout();
  lattice_lbp_inference(beliefs, graph, c.E, c.T, c.sweeps, workspace);
  const std::string text = testing::internal::GetCapturedStdout();
  if (progress != nullptr)
    *progress = text;
  return beliefs;
}

// The schedule's rows hold every candidate once, in the slice and row of its voxel, and the
// representative stands in the slice and row of its own; rows ascend by place.
void expectRowsCoverTheSet(const LatticeLbpGraph &graph, const LatticeCase &c) {
  const int X = c.dims[0];
  const int Y = c.dims[1];
  const int C = static_cast<int>(c.candidates.size());
  ASSERT_EQ(graph.nodes, C + 1);
  ASSERT_EQ(graph.rowStart.size(),
            static_cast<std::size_t>(graph.sliceCount) * (graph.rowCount + 1));
  auto sliceOf = [&](int id) { return (id - 1) / (X * Y); };
  auto rowOf = [&](int id) { return ((id - 1) / X) % Y; };
  int lowestSlice = sliceOf(c.representative);
  int lowestRow = rowOf(c.representative);
  for (const int id : c.candidates) {
    lowestSlice = std::min(lowestSlice, sliceOf(id));
    lowestRow = std::min(lowestRow, rowOf(id));
  }
  EXPECT_EQ(graph.representativeSlice, sliceOf(c.representative) - lowestSlice);
  EXPECT_EQ(graph.representativeRow, rowOf(c.representative) - lowestRow);
  int expected = 0;
  for (int z = 0; z < graph.sliceCount; ++z)
    for (int r = 0; r < graph.rowCount; ++r) {
      const int *slice = &graph.rowStart[static_cast<std::size_t>(z) * (graph.rowCount + 1)];
      ASSERT_EQ(slice[r], expected) << "slice " << z << ", row " << r;
      for (int n = slice[r]; n < slice[r + 1]; ++n) {
        EXPECT_EQ(sliceOf(c.candidates[n]) - lowestSlice, z) << "node " << n;
        EXPECT_EQ(rowOf(c.candidates[n]) - lowestRow, r) << "node " << n;
      }
      expected = slice[r + 1];
    }
  EXPECT_EQ(expected, C);
}

} // namespace

// Random volumes from a single voxel to a few hundred, dense and with holes, K from 1 to 9 and 0
// to 6 sweeps, in bands of one row, of the builder's height and of the whole set.
TEST(LatticeLbp, MatchesThePerNodeAlgorithmOnRandomLattices) {
  std::mt19937 rng(4711);
  LatticeNeighbours neighbours;
  LatticeLbpGraph reused;
  LatticeLbpWorkspace workspace;
  int scheduled = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const std::vector<int> dims{1 + static_cast<int>(rng() % 11), 1 + static_cast<int>(rng() % 7),
                                1 + static_cast<int>(rng() % 6)};
    const double density = trial % 3 == 0 ? 1.0 : 0.3 + 0.6 * (rng() % 100) / 100.0;
    const int K = 1 + trial % kLatticeLargestK;
    const LatticeCase c = randomCase(rng, dims, density, K, trial % 7);
    const Vec expected = expectedBeliefs(c);
    for (const int bandRows : {1, kLatticeBandRows, 1000}) {
      // The graph and workspace of the previous case are rebuilt, as a thread reuses them.
      build_lattice_lbp(reused, c.representative, c.candidates, c.dims, neighbours, bandRows);
      expectRowsCoverTheSet(reused, c);
      scheduled += reused.sliceCount >= 3 && reused.rowCount > bandRows;
      for (int width = 1; width <= lbp_group_width(); width *= 2) {
        reused.width = width;
        ASSERT_EQ(latticeBeliefs(reused, c, workspace), expected)
            << "trial " << trial << ", width " << width << ", bands of " << bandRows;
      }
    }
  }
  EXPECT_GE(scheduled, 20); // many cases take several bands and slices
}

// Blocks whose neighbours behind an offset are consecutive nodes (one load), two runs of them (a
// row end inside the block: two loads) or neither (holes, the representative: lane by lane),
// with some lanes missing their neighbour: every way of reading a block's messages, in large
// sets.
TEST(LatticeLbp, EveryWayOfReadingABlockMatchesThePerNodeAlgorithm) {
  std::mt19937 rng(99);
  LatticeNeighbours neighbours;
  long oneRun = 0;
  long twoRuns = 0;
  long gathered = 0;
  for (const double density : {1.0, 0.9, 0.6}) {
    const LatticeCase c = randomCase(rng, {21, 9, 5}, density, 3, 4);
    LatticeLbpGraph graph;
    build_lattice_lbp(graph, c.representative, c.candidates, c.dims, neighbours);
    for (int b = 0; b < graph.blockCount(); ++b)
      for (int j = 0; j < kLatticeOffsets; ++j) {
        const LatticeReach &reach = graph.reach[static_cast<std::size_t>(b) * kLatticeOffsets + j];
        const int *source =
            &graph.source[static_cast<std::size_t>(j) * graph.rowLength + b * kLatticeLanes];
        // A reach is a claim about the senders of the lanes: check it.
        for (int i = 0; i < kLatticeLanes; ++i) {
          const unsigned bit = 1u << i;
          ASSERT_EQ((reach.lanes & bit) != 0, source[i] >= 0) << "block " << b << ", lane " << i;
          if (reach.firstLanes & bit) {
            ASSERT_EQ(source[i], reach.first + i);
          } else if (reach.secondLanes & bit) {
            ASSERT_EQ(source[i], reach.second + i);
          } else if (source[i] >= 0) {
            ASSERT_TRUE(reach.gathered) << "block " << b << ", lane " << i;
          }
        }
        EXPECT_EQ((graph.blockOffsets[b] >> j) & 1u, reach.lanes != 0 ? 1u : 0u);
        if (reach.lanes == 0)
          continue;
        oneRun += !reach.gathered && reach.secondLanes == 0;
        twoRuns += !reach.gathered && reach.secondLanes != 0;
        gathered += reach.gathered;
      }
    const Vec expected = expectedBeliefs(c);
    LatticeLbpWorkspace workspace;
    for (int width = 1; width <= lbp_group_width(); width *= 2) {
      graph.width = width;
      ASSERT_EQ(latticeBeliefs(graph, c, workspace), expected)
          << "density " << density << ", width " << width;
    }
  }
  EXPECT_GT(oneRun, 200);
  EXPECT_GT(twoRuns, 200);
  EXPECT_GT(gathered, 200);
}

TEST(LatticeLbp, PrintsOneMarkerPerSweepThenFreeMemory) {
  std::mt19937 rng(5);
  LatticeCase c = randomCase(rng, {4, 3, 2}, 1.0, 2, 3);
  LatticeNeighbours neighbours;
  LatticeLbpGraph graph;
  build_lattice_lbp(graph, c.representative, c.candidates, c.dims, neighbours);
  LatticeLbpWorkspace workspace;
  std::string progress;
  latticeBeliefs(graph, c, workspace, &progress);
  EXPECT_EQ(progress, "Iteration 0 Iteration 1 Iteration 2 Free Memory\n");
  c.sweeps = 0;
  latticeBeliefs(graph, c, workspace, &progress);
  EXPECT_EQ(progress, "Free Memory\n");
}

// A large set in bands of rows and slices: the margin past the last node, rows an odd number of
// cache lines long, and the bits of whole sweeps on the general graph.
TEST(LatticeLbp, LayoutAndScheduleOfALargeSet) {
  const std::vector<int> dims{30, 30, 12};
  LatticeCase c;
  c.dims = dims;
  for (int id = 1; id <= 30 * 30 * 12; ++id)
    if (id % 7 != 0)
      c.candidates.push_back(id);
  c.representative = c.candidates[5000];
  c.candidates.erase(c.candidates.begin() + 5000);
  LatticeNeighbours neighbours;
  LatticeLbpGraph graph;
  build_lattice_lbp(graph, c.representative, c.candidates, dims, neighbours);
  EXPECT_GE(graph.rowLength, graph.nodes + kLatticeLanes);
  EXPECT_EQ(graph.rowLength / kLatticeLanes % 2, 1);
  EXPECT_EQ(graph.sliceCount, 12);
  EXPECT_EQ(graph.rowCount, 30);
  EXPECT_EQ(graph.bandRows, kLatticeBandRows);
  expectRowsCoverTheSet(graph, c);

  std::mt19937 rng(3);
  c.sweeps = 5;
  Vec features(c.candidates.size() + 1);
  for (double &x : features)
    x = static_cast<double>(rng() % 131) / 131;
  create_transition_matrix_kclsutering(c.T, {0.1, 0.5, 0.9}, 1.0);
  create_evidence_kclustering(c.E, features, {0.1, 0.5, 0.9});
  LatticeLbpWorkspace workspace;
  const Vec banded = latticeBeliefs(graph, c, workspace);

  LbpGraph whole;
  build_lattice_lbp_graph(whole, c.representative, c.candidates, dims);
  plan_lbp_wavefront(whole, INT_MAX);
  LbpWorkspace wholeWorkspace;
  Vec expected;
  testing::internal::CaptureStdout();
  lbp_inference(expected, whole, c.E, c.T, 5, wholeWorkspace);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(banded, expected);
}

// Idle threads that take parts of an inference (the sweeps split into a pipeline) give the bits
// of one thread, for any number of parts, sweeps and labels, on a set large enough to be shared.
TEST(LatticeLbp, HelpersGiveTheBitsOfOneThread) {
  std::mt19937 rng(12);
  LatticeNeighbours neighbours;
  LatticeLbpWorkspace workspace;
  for (const int K : {2, 3}) {
    for (const int sweeps : {1, 2, 5}) {
      const LatticeCase c = randomCase(rng, {36, 30, 24}, 0.97, K, sweeps);
      ASSERT_GT(c.candidates.size(), 20000u);
      LatticeLbpGraph graph;
      build_lattice_lbp(graph, c.representative, c.candidates, c.dims, neighbours);
      const Vec alone = latticeBeliefs(graph, c, workspace);
      for (const int helpers : {1, 3}) {
        torva::HelperPool pool;
        testsupport::HelperThreads serving(pool, helpers);
        torva::setThreadHelperPool(&pool);
        const Vec helped = latticeBeliefs(graph, c, workspace);
        torva::setThreadHelperPool(nullptr);
        ASSERT_EQ(helped, alone) << "K " << K << ", " << sweeps << " sweeps, " << helpers
                                 << " helpers";
      }
    }
  }
}
