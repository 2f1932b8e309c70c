#include "segment/lattice_lbp.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "segment/lbp_lanes.h"
#include "util/helper_pool.h"
#include "util/progress.h"

namespace {

// One sweep's tables as the kernels see them: `in` the previous sweep's messages (null: all
// 1.0), `out` this sweep's, row r of each at r * rowLength, and the evidence rows. The first
// sweep sends the same message through every offset and keeps it once, in rows 0 .. K-1:
// the offsets of `in` are inStride values apart, 0 for the first sweep's.
struct LatticeSweep {
  const double *in;
  long inStride;
  double *out;
  const double *evidence;
  long rowLength;
};

// W lanes of a block: nodes first + i (first = block * kLatticeLanes + lane) for the lanes i
// whose bit is set in `valid`.
struct LatticeLanes {
  int block;
  int lane;
  long first;
  unsigned valid;
};

// Calls visit for every W lanes of the blocks that hold the nodes first .. end - 1 that hold
// any of them.
template <int W, class Visit> inline void forEachLanes(long first, long end, Visit visit) {
  constexpr unsigned kAll = (1u << W) - 1u;
  for (long block = first / kLatticeLanes; block * kLatticeLanes < end; ++block) {
    const long begin = block * kLatticeLanes;
    const long low = std::max(first, begin) - begin;
    const long high = std::min(end, begin + kLatticeLanes) - begin;
    const unsigned nodes = ((1u << high) - 1u) & ~((1u << low) - 1u);
    for (int lane = 0; lane < kLatticeLanes; lane += W) {
      const unsigned valid = (nodes >> lane) & kAll;
      if (valid != 0)
        visit(LatticeLanes{static_cast<int>(block), lane, begin + lane, valid});
    }
  }
}

// Asks for the first line of the messages a block a few blocks ahead will read through each
// offset: the blocks of a run read every row a little further on, too many rows at once for
// the processor to foresee.
template <int K>
inline void prefetchAhead(const LatticeSweep &sweep, const LatticeLbpGraph &graph, int block,
                          long end) {
  constexpr int kAhead = 4;
  const int ahead = block + kAhead;
  if (static_cast<long>(ahead) * kLatticeLanes >= end)
    return;
  const unsigned present = graph.blockOffsets[ahead];
  const LatticeReach *reach = &graph.reach[static_cast<std::size_t>(ahead) * kLatticeOffsets];
  for (int j = 0; j < kLatticeOffsets; ++j)
    if (present & (1u << j)) {
      const double *row = sweep.in + (kLatticeOffsets - 1 - j) * sweep.inStride + reach[j].first;
      for (int s = 0; s < K; ++s)
        __builtin_prefetch(row + s * sweep.rowLength + kLatticeLanes - 1);
    }
}

#define TORVA_LANE_SUFFIX Scalar
#include "segment/lattice_lbp_kernel.inc"
#undef TORVA_LANE_SUFFIX

#define TORVA_LANE_KERNEL "segment/lattice_lbp_kernel.inc"
#include "segment/lbp_each_lanes.inc"
#undef TORVA_LANE_KERNEL

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

// The first row of a table: on a cache line boundary, after a margin of a block, so that the
// addresses of lanes that read nothing still point into the table.
double *firstRowOf(MessageTable &table) {
  const auto at = reinterpret_cast<std::uintptr_t>(table.data());
  return reinterpret_cast<double *>((at + 63) & ~std::uintptr_t{63}) + kLatticeLanes;
}

// Values a table of `rows` rows needs, with the margin and the alignment.
std::size_t tableValues(const LatticeLbpGraph &graph, int rows) {
  return static_cast<std::size_t>(rows) * graph.rowLength + 2 * kLatticeLanes;
}

// Evidence rows: label s of node n at row s, place n; the margin gets 1.0, so that lanes past
// the last node compute finite values, which are never stored.
void placeEvidence(double *rows, const LatticeLbpGraph &graph, const std::vector<double> &evidence,
                   int K) {
  const int N = graph.nodes;
  for (int s = 0; s < K; ++s) {
    double *row = rows + s * graph.rowLength;
    for (int n = 0; n < N; ++n)
      row[n] = evidence[static_cast<std::size_t>(n) * K + s];
    std::fill(row + N, row + graph.rowLength, 1.0);
  }
}

// One inference: runTask(z, Y, t) takes sweep t (the beliefs at t = iterations) of band Y of
// slice z.
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

  void runNodes(int t, long first, long end) const {
    if (first >= end)
      return;
    const long offsetValues = K * graph.rowLength;
    const long inStride = t == 1 ? 0 : offsetValues;
    if (t == 0 && iterations > 0) {
      const LatticeSweep sweep{nullptr, 0, tables[0], evidence, graph.rowLength};
      withLanesOf(graph, [&](auto lanes) { latticeFirstRun<K>(lanes, sweep, Q, first, end); });
    } else if (t < iterations) {
      const LatticeSweep sweep{tables[(t - 1) % 2], inStride, tables[t % 2], evidence,
                               graph.rowLength};
      withLanesOf(graph,
                  [&](auto lanes) { latticeSendRun<K>(lanes, sweep, graph, T, first, end); });
    } else {
      const double *in = iterations > 0 ? tables[(iterations - 1) % 2] : nullptr;
      const LatticeSweep sweep{in, inStride, nullptr, evidence, graph.rowLength};
      withLanesOf(graph, [&](auto lanes) {
        latticeBeliefRun<K>(lanes, beliefs.data(), sweep, graph, first, end);
      });
    }
  }

  void runTask(int z, int Y, int t) const {
    const int low = std::max(0, Y * graph.bandRows - t);
    const int high = std::min(graph.rowCount, (Y + 1) * graph.bandRows - t);
    if (low >= high)
      return;
    const int *rowStart = &graph.rowStart[static_cast<std::size_t>(z) * (graph.rowCount + 1)];
    runNodes(t, rowStart[low], rowStart[high]);
    if (z == graph.representativeSlice && graph.representativeRow >= low &&
        graph.representativeRow < high)
      runNodes(t, graph.nodes - 1, graph.nodes);
  }

  int bandCount() const { return (graph.rowCount - 1 + iterations) / graph.bandRows + 1; }

  // Sweeps [first, end) of every band, each a wavefront over the slices
  // (lattice_lbp_inference). After every step, `done` counts the steps made; with `upstream`,
  // a step waits until the sweeps before `first` have made it (and an empty part passes that
  // on).
  void runSweeps(int first, int end, const std::atomic<long> *upstream,
                 std::atomic<long> *done) const {
    const int slices = graph.sliceCount;
    const int steps = slices + iterations;
    long made = 0;
    for (int Y = 0; Y < bandCount(); ++Y)
      for (int step = 0; step < steps; ++step) {
        const int low = std::max(first, step - slices + 1);
        const int high = std::min({end - 1, iterations, step});
        ++made;
        if (upstream != nullptr)
          awaitProgress(*upstream, made);
        for (int t = low; t <= high; ++t)
          runTask(step - t, Y, t);
        if (done != nullptr)
          done->store(made, std::memory_order_release);
      }
  }

  void run() const { runSweeps(0, iterations + 1, nullptr, nullptr); }

  // The sweeps split into parts of about equal work (the first sweep costs about a fifth of
  // another, the beliefs half): part p starts at sweep firstOf(p, parts).
  int firstOf(int p, int parts) const {
    auto cost = [this](int t) { return t == 0 ? 0.2 : t == iterations ? 0.5 : 1.0; };
    double total = 0.0;
    for (int t = 0; t <= iterations; ++t)
      total += cost(t);
    double before = 0.0;
    int t = 0;
    while (t <= iterations && before + cost(t) / 2 < total * p / parts)
      before += cost(t++);
    return t;
  }

  // Part p of `parts` as a pipeline: each part's first sweep follows the step of the part
  // before, while that part goes on with the next step.
  void runPart(int p, int parts, std::atomic<long> *progress) const {
    runSweeps(firstOf(p, parts), firstOf(p + 1, parts), p > 0 ? &progress[p - 1] : nullptr,
              &progress[p]);
  }

  static void awaitProgress(const std::atomic<long> &progress, long made) {
    while (progress.load(std::memory_order_acquire) < made)
      std::this_thread::yield();
  }
};

// Parts an inference offers to idle threads: at most one per sweep (and this many), and none
// for sets too small to pay for the hand-over.
constexpr int kLatticeLargestParts = 8;
constexpr int kLatticeHelpedNodes = 20000;

template <int K>
void inferLattice(std::vector<double> &beliefs, const LatticeLbpGraph &graph, const double *T,
                  int iterations, LatticeLbpWorkspace &workspace) {
  const LatticeRun<K> run(graph, beliefs, T, workspace, iterations);
  torva::HelperPool *pool = torva::threadHelperPool();
  const int idle = pool != nullptr ? pool->idleHelpers() : 0;
  const int parts = std::min({1 + idle, kLatticeLargestParts, iterations + 1});
  if (parts <= 1 || graph.nodes < kLatticeHelpedNodes) {
    run.run();
    return;
  }
  std::atomic<long> progress[kLatticeLargestParts] = {};
  pool->run(parts, [&](int p) { run.runPart(p, parts, progress); });
}

// inferLattice with the label count fixed at compile time, for 1 <= K <= kLatticeLargestK.
template <int K = 1>
void inferWithLabels(int labels, std::vector<double> &beliefs, const LatticeLbpGraph &graph,
                     const double *T, int iterations, LatticeLbpWorkspace &workspace) {
  if (labels == K)
    inferLattice<K>(beliefs, graph, T, iterations, workspace);
  else if constexpr (K < kLatticeLargestK)
    inferWithLabels<K + 1>(labels, beliefs, graph, T, iterations, workspace);
  else
    std::abort(); // callers keep K within kLatticeLargestK
}

// Slices and rows of the set (LatticeLbpGraph::rowStart), counted from its lowest.
void planRows(LatticeLbpGraph &graph, LatticeNeighbours &neighbours, int representative,
              const std::vector<int> &candidates, const std::vector<int> &dims) {
  const long X = dims[0];
  const long Y = dims[1];
  const int C = graph.nodes - 1;
  auto sliceOf = [&](long id) { return static_cast<int>((id - 1) / (X * Y)); };
  auto rowOf = [&](long id) { return static_cast<int>(((id - 1) / X) % Y); };
  int firstSlice = sliceOf(representative);
  int lastSlice = firstSlice;
  int firstRow = rowOf(representative);
  int lastRow = firstRow;
  if (C > 0) {
    firstSlice = std::min(firstSlice, sliceOf(candidates.front()));
    lastSlice = std::max(lastSlice, sliceOf(candidates.back()));
  }
  std::vector<int> &rows = neighbours.nodeRow;
  rows.resize(static_cast<std::size_t>(C));
  for (int n = 0; n < C; ++n) {
    rows[n] = rowOf(candidates[n]);
    firstRow = std::min(firstRow, rows[n]);
    lastRow = std::max(lastRow, rows[n]);
  }
  graph.sliceCount = lastSlice - firstSlice + 1;
  graph.rowCount = lastRow - firstRow + 1;
  graph.representativeSlice = sliceOf(representative) - firstSlice;
  graph.representativeRow = rowOf(representative) - firstRow;
  // Counts per (slice, row), then their running sums: the candidates ascend by slice and row.
  const std::size_t stride = static_cast<std::size_t>(graph.rowCount) + 1;
  std::vector<int> &rowStart = graph.rowStart;
  rowStart.assign(static_cast<std::size_t>(graph.sliceCount) * stride, 0);
  for (int n = 0; n < C; ++n)
    ++rowStart[(sliceOf(candidates[n]) - firstSlice) * stride + (rows[n] - firstRow) + 1];
  // Entry r of a slice is the first candidate of rows >= r; entry rowCount, the slice's end, is
  // the next slice's start.
  int running = 0;
  for (int z = 0; z < graph.sliceCount; ++z) {
    int *slice = &rowStart[z * stride];
    for (int r = 0; r < graph.rowCount; ++r) {
      const int here = slice[r + 1];
      slice[r] = running;
      running += here;
    }
    slice[graph.rowCount] = running;
  }
}

// Sources of every node and offset.
void findSources(LatticeLbpGraph &graph, const LatticeNeighbours &neighbours) {
  const int N = graph.nodes;
  const std::size_t entries = static_cast<std::size_t>(kLatticeOffsets) * graph.rowLength;
  lbp_reserve_with_margin(graph.source, entries);
  graph.source.resize(entries);
  for (int j = 0; j < kLatticeOffsets; ++j) {
    int *source = &graph.source[j * static_cast<std::size_t>(graph.rowLength)];
    for (int n = 0; n < N; ++n)
      source[n] = neighbours.target[static_cast<std::size_t>(n) * kLatticeOffsets + j];
    std::fill(source + N, source + graph.rowLength, -1);
  }
}

// How the lanes of a block read through one offset: one or two runs of consecutive senders, or
// lane by lane.
LatticeReach reachOf(const int *source) {
  LatticeReach reach;
  for (int i = 0; i < kLatticeLanes; ++i) {
    if (source[i] < 0)
      continue;
    const unsigned char bit = static_cast<unsigned char>(1u << i);
    reach.lanes |= bit;
    if (reach.firstLanes == 0 || source[i] == reach.first + i) {
      if (reach.firstLanes == 0)
        reach.first = source[i] - i;
      reach.firstLanes |= bit;
    } else if (reach.secondLanes == 0 || source[i] == reach.second + i) {
      if (reach.secondLanes == 0)
        reach.second = source[i] - i;
      reach.secondLanes |= bit;
    } else {
      reach.gathered = 1;
    }
  }
  if (reach.gathered)
    reach.firstLanes = reach.secondLanes = 0;
  return reach;
}

void findReaches(LatticeLbpGraph &graph) {
  const int blocks = graph.blockCount();
  lbp_reserve_with_margin(graph.reach, static_cast<std::size_t>(blocks) * kLatticeOffsets);
  lbp_reserve_with_margin(graph.blockOffsets, static_cast<std::size_t>(blocks));
  graph.reach.resize(static_cast<std::size_t>(blocks) * kLatticeOffsets);
  graph.blockOffsets.resize(static_cast<std::size_t>(blocks));
  long present = 0;
  long full = 0;
  for (int b = 0; b < blocks; ++b) {
    unsigned offsets = 0;
    for (int j = 0; j < kLatticeOffsets; ++j) {
      const LatticeReach reach =
          reachOf(&graph.source[j * static_cast<std::size_t>(graph.rowLength) +
                                static_cast<std::size_t>(b) * kLatticeLanes]);
      graph.reach[static_cast<std::size_t>(b) * kLatticeOffsets + j] = reach;
      if (reach.lanes != 0) {
        offsets |= 1u << j;
        ++present;
        full += reach.firstLanes == 0xFF;
      }
    }
    graph.blockOffsets[b] = static_cast<unsigned short>(offsets);
  }
  graph.fullRunShare = present > 0 ? static_cast<double>(full) / present : 0.0;
}

} // namespace

void build_lattice_lbp(LatticeLbpGraph &graph, int representative,
                       const std::vector<int> &candidates, const std::vector<int> &dims,
                       LatticeNeighbours &neighbours, int bandRows) {
  find_lattice_neighbours(neighbours, representative, candidates, dims);
  graph.nodes = static_cast<int>(candidates.size()) + 1;
  long lines = (graph.nodes + 2L * kLatticeLanes - 1) / kLatticeLanes;
  if (lines % 2 == 0)
    ++lines;
  graph.rowLength = lines * kLatticeLanes;
  findSources(graph, neighbours);
  findReaches(graph);
  graph.width = lbp_group_width();
  graph.bandRows = std::max(bandRows, 1);
  planRows(graph, neighbours, representative, candidates, dims);
}

bool lattice_route_pays(const LatticeLbpGraph &graph) {
  // Measured on the regions of lesion-like studies at 1 and 2 mm: the lattice route is faster
  // from about a third of the pairs in full runs (dense regions of hundreds of thousands of
  // voxels reach three quarters, where it takes half the time), the general graph below.
  return graph.fullRunShare >= 0.3;
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
  inferWithLabels(K, beliefs, graph, T, iterations, workspace);
  torva::progress() << "Free Memory\n";
}
