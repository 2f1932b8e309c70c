#include "segment/lattice_lbp.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "segment/lbp_lanes.h"
#include "util/progress.h"

namespace {

// One sweep's tables as the kernels see them: `in` the previous sweep's messages (null: all
// 1.0), `out` this sweep's, row r of each at r * rowLength, and the evidence rows.
struct LatticeSweep {
  const double *in;
  double *out;
  const double *evidence;
  long rowLength;
};

#define TORVA_LANE_SUFFIX Scalar
#include "segment/lattice_lbp_kernel.inc"
#undef TORVA_LANE_SUFFIX

#ifdef TORVA_LANES
#define TORVA_LANE_SUFFIX Sse2
#include "segment/lattice_lbp_kernel.inc"
#undef TORVA_LANE_SUFFIX
#endif

#ifdef TORVA_AVX_LANES
#pragma GCC push_options
#pragma GCC target("avx")
#define TORVA_LANE_SUFFIX Avx
#include "segment/lattice_lbp_kernel.inc"
#undef TORVA_LANE_SUFFIX
#pragma GCC pop_options
#endif

#ifdef TORVA_AVX512_LANES
#pragma GCC push_options
#pragma GCC target("avx512f")
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define TORVA_LANE_SUFFIX Avx512
#include "segment/lattice_lbp_kernel.inc"
#undef TORVA_LANE_SUFFIX
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

// Calls visit with the lane type of the graph's width.
template <class Visit> void withLanesOf(const LatticeLbpGraph &graph, Visit visit) {
#ifdef TORVA_AVX512_LANES
  if (graph.width == 8)
    return visit(LanesAvx512{});
#endif
#ifdef TORVA_AVX_LANES
  if (graph.width == 4)
    return visit(LanesAvx{});
#endif
#ifdef TORVA_LANES
  if (graph.width == 2)
    return visit(LanesSse2{});
#endif
  visit(LanesScalar{});
}

// The first row of a table: past the margin, on a cache line boundary.
double *firstRowOf(MessageTable &table) {
  const auto at = reinterpret_cast<std::uintptr_t>(table.data());
  return reinterpret_cast<double *>((at + 63) & ~std::uintptr_t{63}) + kLatticeBlock;
}

// Values a table of `rows` rows needs: the rows, the margin before the first one and the
// alignment.
std::size_t tableValues(const LatticeLbpGraph &graph, int rows) {
  return static_cast<std::size_t>(rows) * graph.rowLength + 2 * kLatticeBlock;
}

// Evidence rows of the places: label s of the node at place p at row s, place p; places without
// a node get 1.0, so that their lanes compute finite values nobody reads.
void placeEvidence(double *rows, const LatticeLbpGraph &graph, const std::vector<double> &evidence,
                   int K) {
  for (int s = 0; s < K; ++s) {
    double *row = rows + s * graph.rowLength;
    for (int p = 0; p < graph.places; ++p) {
      const int n = graph.nodeOfPlace[p];
      row[p] = n >= 0 ? evidence[static_cast<std::size_t>(n) * K + s] : 1.0;
    }
  }
}

// One inference: slab k takes sweep t (the beliefs at t = iterations) in runTask.
template <int K> struct LatticeRun {
  const LatticeLbpGraph &graph;
  std::vector<double> &beliefs;
  const double *T;
  double Q[K]; // T times ones, the first sweep's sums
  double *tables[2];
  const double *evidence;
  int iterations;

  LatticeRun(const LatticeLbpGraph &graph, std::vector<double> &beliefs, const double *T,
             LatticeLbpWorkspace &workspace, int iterations)
      : graph(graph), beliefs(beliefs),
        T(T), tables{firstRowOf(workspace.tables[0]), firstRowOf(workspace.tables[1])},
        evidence(firstRowOf(workspace.evidence)), iterations(iterations) {
    // Each sum from 0.0 for t = 0 upward, as every later sweep's.
    for (int s = 0; s < K; ++s) {
      double q = 0.0;
      for (int t = 0; t < K; ++t)
        q += T[s + t * K] * 1.0;
      Q[s] = q;
    }
  }

  // Sweep t (the beliefs at t = iterations) of band Y of slab k.
  void runTask(int k, int Y, int t) const {
    const int low = std::max(0, Y * graph.bandRows - t * graph.rowReach);
    const int high = std::min(graph.rowCount, (Y + 1) * graph.bandRows - t * graph.rowReach);
    if (low >= high)
      return;
    const int *rowStart = &graph.slabRowStart[static_cast<std::size_t>(k) * (graph.rowCount + 1)];
    const int *blocks = graph.slabBlocks.data() + rowStart[low];
    const int count = rowStart[high] - rowStart[low];
    if (count == 0)
      return;
    if (t == 0 && iterations > 0) {
      const LatticeSweep sweep{nullptr, tables[0], evidence, graph.rowLength};
      withLanesOf(
          graph, [&](auto lanes) { latticeFirstBlocks<K>(lanes, sweep, graph, Q, blocks, count); });
    } else if (t < iterations) {
      const LatticeSweep sweep{tables[(t - 1) % 2], tables[t % 2], evidence, graph.rowLength};
      withLanesOf(graph,
                  [&](auto lanes) { latticeSendBlocks<K>(lanes, sweep, graph, T, blocks, count); });
    } else {
      const double *in = iterations > 0 ? tables[(iterations - 1) % 2] : nullptr;
      const LatticeSweep sweep{in, nullptr, evidence, graph.rowLength};
      withLanesOf(graph, [&](auto lanes) {
        latticeBeliefBlocks<K>(lanes, beliefs.data(), sweep, graph, blocks, count);
      });
    }
  }

  int bandCount() const {
    return (graph.rowCount + iterations * graph.rowReach) / graph.bandRows + 1;
  }

  // Band by band, each a wavefront over the slabs (lattice_lbp_inference).
  void run() const {
    const int slabs = graph.slabCount();
    for (int Y = 0; Y < bandCount(); ++Y)
      for (int step = 0; step < slabs + iterations; ++step)
        for (int t = std::max(0, step - slabs + 1); t <= iterations && t <= step; ++t)
          runTask(step - t, Y, t);
  }
};

template <int K>
void inferLattice(std::vector<double> &beliefs, const LatticeLbpGraph &graph, const double *T,
                  int iterations, LatticeLbpWorkspace &workspace) {
  LatticeRun<K>(graph, beliefs, T, workspace, iterations).run();
}

// Slice and row of each block's first node.
void blockPositions(std::vector<int> &slice, std::vector<int> &row, const LatticeLbpGraph &graph,
                    int representative, const std::vector<int> &candidates,
                    const std::vector<int> &dims) {
  const long X = dims[0];
  const long Y = dims[1];
  const int blocks = graph.blockCount();
  slice.resize(static_cast<std::size_t>(blocks));
  row.resize(static_cast<std::size_t>(blocks));
  for (int b = 0; b < blocks; ++b) {
    const int node = graph.nodeOfPlace[static_cast<std::size_t>(b) * kLatticeBlock];
    const long voxel = (node < graph.nodes - 1 ? candidates[node] : representative) - 1L;
    row[b] = static_cast<int>((voxel / X) % Y);
    slice[b] = static_cast<int>(voxel / (X * Y));
  }
}

// The schedule's slabs and rows (LatticeLbpGraph).
void planLatticeSchedule(LatticeLbpGraph &graph, LatticeNeighbours &neighbours, int representative,
                         const std::vector<int> &candidates, const std::vector<int> &dims,
                         int bandRows) {
  std::vector<int> &slice = neighbours.blockSlice;
  std::vector<int> &row = neighbours.blockRow;
  blockPositions(slice, row, graph, representative, candidates, dims);
  const int blocks = graph.blockCount();
  // How far apart in slices and rows blocks that exchange messages stand.
  int sliceReach = 1;
  int rowReach = 0;
  for (int j = 0; j < kLatticeOffsets; ++j)
    for (int p = 0; p < graph.places; ++p) {
      const int from = graph.source[static_cast<std::size_t>(j) * graph.places + p];
      if (from < 0)
        continue;
      const int b = p / kLatticeBlock;
      const int a = from / kLatticeBlock;
      sliceReach = std::max(sliceReach, std::abs(slice[b] - slice[a]));
      rowReach = std::max(rowReach, std::abs(row[b] - row[a]));
    }
  const int firstSlice = *std::min_element(slice.begin(), slice.end());
  const int lastSlice = *std::max_element(slice.begin(), slice.end());
  const int firstRow = *std::min_element(row.begin(), row.end());
  const int lastRow = *std::max_element(row.begin(), row.end());
  const int slabs = (lastSlice - firstSlice) / sliceReach + 1;
  graph.rowCount = lastRow - firstRow + 1;
  graph.rowReach = rowReach;
  graph.bandRows = std::max(bandRows, 1);

  // Blocks by slab, then row, then place: a counting sort on the row within each slab.
  std::vector<int> &key = neighbours.blockKey;
  key.resize(static_cast<std::size_t>(blocks));
  const int rows = graph.rowCount;
  for (int b = 0; b < blocks; ++b)
    key[b] = (slice[b] - firstSlice) / sliceReach * rows + (row[b] - firstRow);
  const std::size_t keys = static_cast<std::size_t>(slabs) * rows;
  std::vector<int> &count = neighbours.keyCount;
  count.assign(keys + 1, 0);
  for (int b = 0; b < blocks; ++b)
    ++count[key[b] + 1];
  for (std::size_t i = 1; i <= keys; ++i)
    count[i] += count[i - 1];
  graph.slabRowStart.resize(static_cast<std::size_t>(slabs) * (rows + 1));
  graph.slabStart.resize(static_cast<std::size_t>(slabs) + 1);
  for (int k = 0; k < slabs; ++k) {
    graph.slabStart[k] = count[static_cast<std::size_t>(k) * rows];
    for (int r = 0; r <= rows; ++r)
      graph.slabRowStart[static_cast<std::size_t>(k) * (rows + 1) + r] =
          count[static_cast<std::size_t>(k) * rows + r];
  }
  graph.slabStart[slabs] = blocks;
  lbp_reserve_with_margin(graph.slabBlocks, static_cast<std::size_t>(blocks));
  graph.slabBlocks.resize(static_cast<std::size_t>(blocks));
  for (int b = 0; b < blocks; ++b)
    graph.slabBlocks[count[key[b]]++] = b;
}

// Places of the nodes: the candidates in order, a new block at every new slice, then the
// representative's block.
void placeNodes(LatticeLbpGraph &graph, const std::vector<int> &candidates,
                const std::vector<int> &dims) {
  const long sliceVoxels = static_cast<long>(dims[0]) * dims[1];
  const int N = graph.nodes;
  const int C = N - 1;
  lbp_reserve_with_margin(graph.placeOfNode, static_cast<std::size_t>(N));
  graph.placeOfNode.resize(static_cast<std::size_t>(N));
  auto nextBlock = [](int place) {
    return (place + kLatticeBlock - 1) / kLatticeBlock * kLatticeBlock;
  };
  int place = 0;
  long slice = -1;
  for (int n = 0; n < C; ++n) {
    const long z = (candidates[n] - 1L) / sliceVoxels;
    if (z != slice)
      place = nextBlock(place);
    slice = z;
    graph.placeOfNode[n] = place++;
  }
  graph.placeOfNode[C] = nextBlock(place);
  graph.places = graph.placeOfNode[C] + kLatticeBlock;
  lbp_reserve_with_margin(graph.nodeOfPlace, static_cast<std::size_t>(graph.places));
  graph.nodeOfPlace.assign(static_cast<std::size_t>(graph.places), -1);
  for (int n = 0; n < N; ++n)
    graph.nodeOfPlace[graph.placeOfNode[n]] = n;
}

// Per block and offset: which lanes have a neighbour there, and whether their neighbours stand
// at consecutive places.
void findReaches(LatticeLbpGraph &graph) {
  const int blocks = graph.blockCount();
  lbp_reserve_with_margin(graph.reach, static_cast<std::size_t>(blocks) * kLatticeOffsets);
  lbp_reserve_with_margin(graph.blockOffsets, static_cast<std::size_t>(blocks));
  graph.reach.resize(static_cast<std::size_t>(blocks) * kLatticeOffsets);
  graph.blockOffsets.resize(static_cast<std::size_t>(blocks));
  for (int b = 0; b < blocks; ++b) {
    unsigned offsets = 0;
    for (int j = 0; j < kLatticeOffsets; ++j) {
      const int *source = &graph.source[static_cast<std::size_t>(j) * graph.places +
                                        static_cast<std::size_t>(b) * kLatticeBlock];
      LatticeReach reach;
      bool first = true;
      for (int i = 0; i < kLatticeBlock; ++i) {
        if (source[i] < 0)
          continue;
        reach.lanes = static_cast<unsigned char>(reach.lanes | (1u << i));
        if (first)
          reach.base = source[i] - i;
        else if (source[i] != reach.base + i)
          reach.gathered = 1;
        first = false;
      }
      if (reach.lanes != 0)
        offsets |= 1u << j;
      graph.reach[static_cast<std::size_t>(b) * kLatticeOffsets + j] = reach;
    }
    graph.blockOffsets[b] = static_cast<unsigned short>(offsets);
  }
}

} // namespace

void build_lattice_lbp(LatticeLbpGraph &graph, int representative,
                       const std::vector<int> &candidates, const std::vector<int> &dims,
                       LatticeNeighbours &neighbours, int bandRows) {
  find_lattice_neighbours(neighbours, representative, candidates, dims);
  const int N = static_cast<int>(candidates.size()) + 1;
  graph.nodes = N;
  placeNodes(graph, candidates, dims);
  long lines = (graph.places + kLatticeBlock) / kLatticeBlock;
  if (lines % 2 == 0)
    ++lines;
  graph.rowLength = lines * kLatticeBlock;

  const std::size_t sources = static_cast<std::size_t>(kLatticeOffsets) * graph.places;
  lbp_reserve_with_margin(graph.source, sources);
  graph.source.assign(sources, -1);
  for (int n = 0; n < N; ++n) {
    const std::size_t place = static_cast<std::size_t>(graph.placeOfNode[n]);
    for (int j = 0; j < kLatticeOffsets; ++j) {
      const int u = neighbours.target[static_cast<std::size_t>(n) * kLatticeOffsets + j];
      if (u >= 0)
        graph.source[j * static_cast<std::size_t>(graph.places) + place] = graph.placeOfNode[u];
    }
  }
  findReaches(graph);
  graph.width = lbp_group_width();
  planLatticeSchedule(graph, neighbours, representative, candidates, dims, bandRows);
}

void LatticeLbpWorkspace::reserve(const LatticeLbpGraph &graph, int K) {
  for (MessageTable &table : tables)
    lbp_reserve_with_margin(table, tableValues(graph, kLatticeOffsets * K));
  lbp_reserve_with_margin(evidence, tableValues(graph, K));
}

void lattice_lbp_inference(std::vector<double> &beliefs, const LatticeLbpGraph &graph,
                           const std::vector<double> &evidence,
                           const std::vector<double> &transition, int iterations,
                           LatticeLbpWorkspace &workspace) {
  const int K = static_cast<int>(std::sqrt(static_cast<float>(transition.size())));
  for (int t = 0; t < iterations; ++t)
    torva::progress() << "Iteration " << t << " ";
  // Every value of the tables is written before it is read: no clearing.
  workspace.tables[0].resize(tableValues(graph, kLatticeOffsets * K));
  workspace.tables[1].resize(tableValues(graph, kLatticeOffsets * K));
  workspace.evidence.resize(tableValues(graph, K));
  placeEvidence(firstRowOf(workspace.evidence), graph, evidence, K);
  beliefs.resize(static_cast<std::size_t>(graph.nodes) * K);
  const double *T = transition.data();
  switch (K) {
  case 1:
    inferLattice<1>(beliefs, graph, T, iterations, workspace);
    break;
  case 2:
    inferLattice<2>(beliefs, graph, T, iterations, workspace);
    break;
  case 3:
    inferLattice<3>(beliefs, graph, T, iterations, workspace);
    break;
  case 4:
    inferLattice<4>(beliefs, graph, T, iterations, workspace);
    break;
  case 5:
    inferLattice<5>(beliefs, graph, T, iterations, workspace);
    break;
  case 6:
    inferLattice<6>(beliefs, graph, T, iterations, workspace);
    break;
  case 7:
    inferLattice<7>(beliefs, graph, T, iterations, workspace);
    break;
  case 8:
    inferLattice<8>(beliefs, graph, T, iterations, workspace);
    break;
  case 9:
    inferLattice<9>(beliefs, graph, T, iterations, workspace);
    break;
  default:
    std::abort(); // callers keep K within kLatticeLargestK
  }
  torva::progress() << "Free Memory\n";
}
