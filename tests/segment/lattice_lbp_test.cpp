// The lattice route treats a missing neighbour as one sending 1.0 and keeps messages by sender
// in rows; its beliefs must be the plain per-node algorithm's to the bit, at every lane width,
// on whole blocks and on sets with holes, and through the wavefront's slabs.
#include "segment/lattice_lbp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "segment/kclustering.h"
#include "segment/neighborhood.h"
#include "support/lbp_reference.h"

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

// Every block of the schedule appears once, and every block reads only from blocks of its own
// slab or of the two beside it, and of rows at most rowReach from its own: the conditions under
// which the bands and the wavefront keep every input of every message.
void expectScheduleCoversTheSet(const LatticeLbpGraph &graph) {
  const int blocks = graph.blockCount();
  std::vector<int> slabOf(static_cast<std::size_t>(blocks), -1);
  std::vector<int> rowOf(static_cast<std::size_t>(blocks), -1);
  ASSERT_EQ(graph.slabStart.back(), blocks);
  for (int k = 0; k < graph.slabCount(); ++k) {
    const int *rowStart = &graph.slabRowStart[static_cast<std::size_t>(k) * (graph.rowCount + 1)];
    ASSERT_EQ(rowStart[0], graph.slabStart[k]);
    ASSERT_EQ(rowStart[graph.rowCount], graph.slabStart[k + 1]);
    for (int r = 0; r < graph.rowCount; ++r)
      for (int i = rowStart[r]; i < rowStart[r + 1]; ++i) {
        const int b = graph.slabBlocks[i];
        ASSERT_EQ(slabOf[b], -1) << "block " << b;
        slabOf[b] = k;
        rowOf[b] = r;
      }
  }
  for (int p = 0; p < graph.places; ++p) {
    const int b = p / kLatticeBlock;
    ASSERT_GE(slabOf[b], 0) << "block " << b;
    for (int j = 0; j < kLatticeOffsets; ++j) {
      const int from = graph.source[static_cast<std::size_t>(j) * graph.places + p];
      if (from < 0)
        continue;
      ASSERT_NE(graph.nodeOfPlace[p], -1) << "place " << p;
      ASSERT_NE(graph.nodeOfPlace[from], -1) << "place " << from;
      const int a = from / kLatticeBlock;
      EXPECT_LE(std::abs(slabOf[b] - slabOf[a]), 1) << "place " << p;
      EXPECT_LE(std::abs(rowOf[b] - rowOf[a]), graph.rowReach) << "place " << p;
    }
  }
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
      expectScheduleCoversTheSet(reused);
      scheduled += reused.slabCount() >= 3 && reused.rowCount > bandRows;
      for (int width = 1; width <= lbp_group_width(); width *= 2) {
        reused.width = width;
        ASSERT_EQ(latticeBeliefs(reused, c, workspace), expected)
            << "trial " << trial << ", width " << width << ", " << reused.slabCount() << " slabs";
      }
    }
  }
  EXPECT_GE(scheduled, 20); // many cases take both bands and slabs
}

// Blocks of eight where the neighbours behind an offset are consecutive places, where some are
// missing (row ends, holes) and where they are not consecutive (a row end inside the block, the
// representative): all three ways of reading a block's messages, in one large set.
TEST(LatticeLbp, EveryWayOfReadingABlockMatchesThePerNodeAlgorithm) {
  std::mt19937 rng(99);
  LatticeNeighbours neighbours;
  int contiguous = 0;
  int masked = 0;
  int gathered = 0;
  for (const double density : {1.0, 0.9, 0.6}) {
    const LatticeCase c = randomCase(rng, {21, 9, 5}, density, 3, 4);
    LatticeLbpGraph graph;
    build_lattice_lbp(graph, c.representative, c.candidates, c.dims, neighbours);
    for (const LatticeReach &reach : graph.reach) {
      if (reach.lanes == 0)
        continue;
      if (reach.gathered)
        ++gathered;
      else if (reach.lanes == 0xFF)
        ++contiguous;
      else
        ++masked;
    }
    const Vec expected = expectedBeliefs(c);
    LatticeLbpWorkspace workspace;
    for (int width = 1; width <= lbp_group_width(); width *= 2) {
      graph.width = width;
      ASSERT_EQ(latticeBeliefs(graph, c, workspace), expected)
          << "density " << density << ", width " << width;
    }
  }
  EXPECT_GT(contiguous, 100);
  EXPECT_GT(masked, 100);
  EXPECT_GT(gathered, 100);
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

// The layout: places of the candidates in order, the representative on a block of its own,
// rows an odd number of cache lines long with room beyond the places; and the schedule of a
// large set in slabs of one slice and bands of rows, which gives the bits of whole sweeps.
TEST(LatticeLbp, LayoutAndSlabsOfALargeSet) {
  const std::vector<int> dims{30, 30, 12};
  std::vector<int> members;
  for (int id = 1; id <= 30 * 30 * 12; ++id)
    if (id % 7 != 0)
      members.push_back(id);
  const int representative = members[5000];
  members.erase(members.begin() + 5000);
  LatticeNeighbours neighbours;
  LatticeLbpGraph graph;
  build_lattice_lbp(graph, representative, members, dims, neighbours);
  const int C = static_cast<int>(members.size());
  ASSERT_EQ(graph.nodes, C + 1);
  for (int n = 0; n < C; ++n) {
    const bool newSlice = n == 0 || (members[n] - 1) / 900 != (members[n - 1] - 1) / 900;
    if (newSlice) {
      EXPECT_EQ(graph.placeOfNode[n] % kLatticeBlock, 0) << "node " << n;
    } else {
      EXPECT_EQ(graph.placeOfNode[n], graph.placeOfNode[n - 1] + 1) << "node " << n;
    }
  }
  EXPECT_EQ(graph.placeOfNode[C] % kLatticeBlock, 0);
  EXPECT_GT(graph.placeOfNode[C], graph.placeOfNode[C - 1]);
  EXPECT_EQ(graph.places, graph.placeOfNode[C] + kLatticeBlock);
  int held = 0;
  for (int p = 0; p < graph.places; ++p)
    if (graph.nodeOfPlace[p] >= 0) {
      ++held;
      EXPECT_EQ(graph.placeOfNode[graph.nodeOfPlace[p]], p);
    }
  EXPECT_EQ(held, C + 1);
  EXPECT_GE(graph.rowLength, graph.places + kLatticeBlock);
  EXPECT_EQ(graph.rowLength / kLatticeBlock % 2, 1);
  // A slab per slice; blocks of eight in rows of about 26 nodes span two rows at most.
  EXPECT_EQ(graph.slabCount(), 12);
  EXPECT_EQ(graph.rowCount, 30);
  EXPECT_EQ(graph.rowReach, 2);
  expectScheduleCoversTheSet(graph);

  std::mt19937 rng(3);
  LatticeCase c;
  c.dims = dims;
  c.candidates = members;
  c.representative = representative;
  c.sweeps = 5;
  Vec features(members.size() + 1);
  for (double &x : features)
    x = static_cast<double>(rng() % 131) / 131;
  create_transition_matrix_kclsutering(c.T, {0.1, 0.5, 0.9}, 1.0);
  create_evidence_kclustering(c.E, features, {0.1, 0.5, 0.9});
  LatticeLbpWorkspace workspace;
  const Vec wavefront = latticeBeliefs(graph, c, workspace);

  LbpGraph whole;
  build_lattice_lbp_graph(whole, representative, members, dims);
  plan_lbp_wavefront(whole, INT_MAX);
  LbpWorkspace wholeWorkspace;
  Vec expected;
  testing::internal::CaptureStdout();
  lbp_inference(expected, whole, c.E, c.T, 5, wholeWorkspace);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(wavefront, expected);
}
