#include "segment/lbp.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "util/progress.h"

void create_transition_matrix_kclsutering(std::vector<double> &T, const std::vector<double> &means,
                                          double beta) {
  T.clear();
  T.reserve(means.size() * means.size());
  for (double mi : means)
    for (double mj : means) {
      const double d = mi - mj;
      T.push_back(std::exp(-(beta * (d * d))));
    }
}

void create_evidence_kclustering(std::vector<double> &E, const std::vector<double> &features,
                                 const std::vector<double> &means) {
  const std::size_t K = means.size();
  E.resize(features.size() * K);
  // The features are similarities, counts of cases over the case count, so a region of tens of
  // thousands of voxels holds a few hundred distinct values. A row is copied from the last
  // voxel whose feature had the same bits (remembered in a small table by hash), which gives
  // exactly the values computing it would.
  constexpr int kTableBits = 12;
  std::vector<std::uint64_t> seenBits(std::size_t{1} << kTableBits);
  std::vector<std::size_t> seenRow(std::size_t{1} << kTableBits, SIZE_MAX);
  for (std::size_t n = 0; n < features.size(); ++n) {
    const double x = features[n];
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const std::size_t slot =
        static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> (64 - kTableBits));
    double *row = E.data() + n * K;
    if (seenRow[slot] != SIZE_MAX && seenBits[slot] == bits) {
      std::copy_n(E.data() + seenRow[slot] * K, K, row);
      continue;
    }
    for (std::size_t j = 0; j < K; ++j) {
      const double d = x - means[j];
      row[j] = std::exp(-(d * d));
    }
    seenBits[slot] = bits;
    seenRow[slot] = n;
  }
}

namespace {

long volumeOf(const std::vector<int> &dims) {
  if (dims.empty())
    return 0;
  long volume = 1;
  for (int extent : dims)
    volume *= extent;
  return volume;
}

int labelCountOf(const std::vector<double> &transition) {
  return static_cast<int>(std::sqrt(static_cast<float>(transition.size())));
}

// Last slot of `list` whose voxel index is `voxel`, or -1.
int lastSlotHolding(const std::vector<int> &list, int voxel) {
  for (int y = static_cast<int>(list.size() / 2) - 1; y >= 0; --y)
    if (list[2 * y + 1] == voxel)
      return y;
  return -1;
}

// Scratch space of one inference, sized once so that the sweeps never allocate.
struct SweepScratch {
  std::vector<const double *> incoming;
  std::vector<double> prefix; // prefix[x*K + s] = product of incoming 0 .. x-1 at label s
  std::vector<double> without;
  std::vector<double> sums;
  std::vector<double> ones;

  SweepScratch(int maxDegree, int K)
      : incoming(maxDegree), prefix(static_cast<std::size_t>(maxDegree + 1) * K), without(K),
        sums(K), ones(K, 1.0) {}
};

// Where a sweep reads the message that reaches each slot g: base + index[g] * K, or all ones
// when index[g] < 0. The slot messages of a sweep are read through readSlot; the messages of the
// first sweep, one per sending node, through neighbourNode.
struct MessageSource {
  const double *base;
  const int *index;
  const double *ones;

  const double *at(int g, int K) const {
    return index[g] < 0 ? ones : base + static_cast<std::size_t>(index[g]) * K;
  }
};

void gatherIncoming(SweepScratch &scratch, const LbpGraph &graph, const MessageSource &source,
                    int n, int K) {
  const int first = graph.slotOffset[n];
  const int degree = graph.slotOffset[n + 1] - first;
  for (int x = 0; x < degree; ++x)
    scratch.incoming[x] = source.at(first + x, K);
}

// Q[s] = sum_t T[s + t*K] * P[t], each sum accumulated from 0.0 for t = 0 upward. The SSE2 path
// computes two labels per instruction with the same per-label operations, so its results are
// bit-identical to the scalar loop.
template <int KC>
inline void columnMajorProduct(double *Q, const double *T, const double *P, int runtimeK) {
  const int K = KC > 0 ? KC : runtimeK;
  int s = 0;
#ifdef __SSE2__
  for (; s + 1 < K; s += 2) {
    __m128d acc = _mm_setzero_pd();
    for (int t = 0; t < K; ++t)
      acc = _mm_add_pd(acc, _mm_mul_pd(_mm_loadu_pd(T + s + t * K), _mm_set1_pd(P[t])));
    _mm_storeu_pd(Q + s, acc);
  }
#endif
  for (; s < K; ++s) {
    double q = 0.0;
    for (int t = 0; t < K; ++t)
      q += T[s + t * K] * P[t];
    Q[s] = q;
  }
}

// New messages of node n into `next`. Products run over the slots in slot order starting from
// 1.0 and sums over labels from t = 0 upward, label by label, so that every bit matches the
// per-node table algorithm; the prefix products only share the common leading factors, and the
// label loops are innermost so that they vectorise without reordering any sum. KC > 0 fixes the
// label count at compile time; KC = 0 takes it from K.
template <int KC>
void sendMessages(double *next, SweepScratch &scratch, const LbpGraph &graph, const double *E,
                  const double *T, int n, int runtimeK) {
  const int K = KC > 0 ? KC : runtimeK;
  const int first = graph.slotOffset[n];
  const int degree = graph.slotOffset[n + 1] - first;
  const double *const *incoming = scratch.incoming.data();
  double *prefix = scratch.prefix.data();
  double *P = scratch.without.data();
  for (int s = 0; s < K; ++s)
    prefix[s] = 1.0;
  for (int x = 0; x < degree; ++x) {
    const double *m = incoming[x];
    for (int s = 0; s < K; ++s)
      prefix[(x + 1) * K + s] = prefix[x * K + s] * m[s];
  }
  // Local accumulators for a fixed label count, so that the compiler sees they alias nothing.
  constexpr int kLocal = KC > 0 ? KC : 1;
  double localP[kLocal];
  double localQ[kLocal];
  double *Q = KC > 0 ? localQ : scratch.sums.data();
  if (KC > 0)
    P = localP;
  for (int x = 0; x < degree; ++x) {
    for (int s = 0; s < K; ++s)
      P[s] = prefix[x * K + s];
    for (int m = x + 1; m < degree; ++m) {
      const double *msg = incoming[m];
      for (int s = 0; s < K; ++s)
        P[s] *= msg[s];
    }
    columnMajorProduct<KC>(Q, T, P, K);
    double *out = next + static_cast<std::size_t>(graph.writeSlot[first + x]) * K;
    double sum = 0.0;
    for (int s = 0; s < K; ++s) {
      out[s] = E[s] * Q[s];
      sum += out[s];
    }
    for (int s = 0; s < K; ++s)
      out[s] /= sum;
  }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORVA_LANES 1
// Degree up to which nodes are updated in groups; larger degrees (possible only in a
// neighbourhood read from a file) take the one-node kernel.
constexpr int kGroupedDegree = 16;

// Lane operations of the grouped kernel: lane i of every register computes node i of the group.
struct LanesSse2 {
  static constexpr int W = 2;
  using V = __m128d;
  static V one() { return _mm_set1_pd(1.0); }
  static V zero() { return _mm_setzero_pd(); }
  static V broadcast(double x) { return _mm_set1_pd(x); }
  static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
  static V div(V a, V b) { return _mm_div_pd(a, b); }
  static V gather(const double *const *p, int s) { return _mm_set_pd(p[1][s], p[0][s]); }
  static void scatter(V v, double *const *to, int s) {
    _mm_storel_pd(to[0] + s, v);
    _mm_storeh_pd(to[1] + s, v);
  }
  // Labels s and s+1 of every lane: one load or store per lane and a transpose in registers.
  static void gatherPair(V &a, V &b, const double *const *p, int s) {
    const V p0 = _mm_loadu_pd(p[0] + s);
    const V p1 = _mm_loadu_pd(p[1] + s);
    a = _mm_unpacklo_pd(p0, p1);
    b = _mm_unpackhi_pd(p0, p1);
  }
  static void scatterPair(V a, V b, double *const *to, int s) {
    _mm_storeu_pd(to[0] + s, _mm_unpacklo_pd(a, b));
    _mm_storeu_pd(to[1] + s, _mm_unpackhi_pd(a, b));
  }
};

#define TORVA_LANE_SUFFIX Sse2
#include "segment/lbp_group_kernel.inc"
#undef TORVA_LANE_SUFFIX

#if !defined(__clang__)
#define TORVA_AVX_LANES 1
// The same kernel for four nodes at a time, compiled for AVX and chosen at run time when the
// processor has it. AVX brings no fused multiply-add, so every product and sum stays separate.
#pragma GCC push_options
#pragma GCC target("avx")
struct LanesAvx {
  static constexpr int W = 4;
  using V = __m256d;
  static V one() { return _mm256_set1_pd(1.0); }
  static V zero() { return _mm256_setzero_pd(); }
  static V broadcast(double x) { return _mm256_set1_pd(x); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
  static V div(V a, V b) { return _mm256_div_pd(a, b); }
  static V gather(const double *const *p, int s) {
    return _mm256_set_pd(p[3][s], p[2][s], p[1][s], p[0][s]);
  }
  static void scatter(V v, double *const *to, int s) {
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, v);
    for (int i = 0; i < 4; ++i)
      to[i][s] = lanes[i];
  }
  // u holds lanes 0 and 2, v lanes 1 and 3, each lane's labels s and s+1 side by side.
  static void gatherPair(V &a, V &b, const double *const *p, int s) {
    const V u = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p[0] + s)),
                                     _mm_loadu_pd(p[2] + s), 1);
    const V v = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p[1] + s)),
                                     _mm_loadu_pd(p[3] + s), 1);
    a = _mm256_unpacklo_pd(u, v);
    b = _mm256_unpackhi_pd(u, v);
  }
  static void scatterPair(V a, V b, double *const *to, int s) {
    const V u = _mm256_unpacklo_pd(a, b);
    const V v = _mm256_unpackhi_pd(a, b);
    _mm_storeu_pd(to[0] + s, _mm256_castpd256_pd128(u));
    _mm_storeu_pd(to[1] + s, _mm256_castpd256_pd128(v));
    _mm_storeu_pd(to[2] + s, _mm256_extractf128_pd(u, 1));
    _mm_storeu_pd(to[3] + s, _mm256_extractf128_pd(v, 1));
  }
};

#define TORVA_LANE_SUFFIX Avx
#include "segment/lbp_group_kernel.inc"
#undef TORVA_LANE_SUFFIX

#pragma GCC pop_options

#define TORVA_AVX512_LANES 1
// Eight nodes at a time with AVX-512, chosen at run time like AVX. The fused multiply-add it
// brings is never formed: the build keeps every product and sum apart (-ffp-contract=off).
#pragma GCC push_options
#pragma GCC target("avx512f")
// GCC 12's AVX-512 shuffle intrinsics start from an "undefined" register that its own
// uninitialised-use check then reports; the values are fully overwritten.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
struct LanesAvx512 {
  static constexpr int W = 8;
  using V = __m512d;
  static V one() { return _mm512_set1_pd(1.0); }
  static V zero() { return _mm512_setzero_pd(); }
  static V broadcast(double x) { return _mm512_set1_pd(x); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
  static V div(V a, V b) { return _mm512_div_pd(a, b); }
  static V gather(const double *const *p, int s) {
    return _mm512_set_pd(p[7][s], p[6][s], p[5][s], p[4][s], p[3][s], p[2][s], p[1][s], p[0][s]);
  }
  static void scatter(V v, double *const *to, int s) {
    alignas(64) double lanes[8];
    _mm512_store_pd(lanes, v);
    for (int i = 0; i < 8; ++i)
      to[i][s] = lanes[i];
  }
  // u holds the even lanes, v the odd ones, each lane's labels s and s+1 side by side.
  static V pairsOf(const double *const *p, int first, int s) {
    const __m256d low = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p[first] + s)),
                                             _mm_loadu_pd(p[first + 2] + s), 1);
    const __m256d high = _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_loadu_pd(p[first + 4] + s)), _mm_loadu_pd(p[first + 6] + s), 1);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
  }
  static void gatherPair(V &a, V &b, const double *const *p, int s) {
    const V u = pairsOf(p, 0, s);
    const V v = pairsOf(p, 1, s);
    a = _mm512_unpacklo_pd(u, v);
    b = _mm512_unpackhi_pd(u, v);
  }
  static void scatterPair(V a, V b, double *const *to, int s) {
    const V u = _mm512_unpacklo_pd(a, b);
    const V v = _mm512_unpackhi_pd(a, b);
    const __m256d uLow = _mm512_castpd512_pd256(u);
    const __m256d vLow = _mm512_castpd512_pd256(v);
    const __m256d uHigh = _mm512_extractf64x4_pd(u, 1);
    const __m256d vHigh = _mm512_extractf64x4_pd(v, 1);
    _mm_storeu_pd(to[0] + s, _mm256_castpd256_pd128(uLow));
    _mm_storeu_pd(to[1] + s, _mm256_castpd256_pd128(vLow));
    _mm_storeu_pd(to[2] + s, _mm256_extractf128_pd(uLow, 1));
    _mm_storeu_pd(to[3] + s, _mm256_extractf128_pd(vLow, 1));
    _mm_storeu_pd(to[4] + s, _mm256_castpd256_pd128(uHigh));
    _mm_storeu_pd(to[5] + s, _mm256_castpd256_pd128(vHigh));
    _mm_storeu_pd(to[6] + s, _mm256_extractf128_pd(uHigh, 1));
    _mm_storeu_pd(to[7] + s, _mm256_extractf128_pd(vHigh, 1));
  }
};

#define TORVA_LANE_SUFFIX Avx512
#include "segment/lbp_group_kernel.inc"
#undef TORVA_LANE_SUFFIX

#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
#endif

// A run of nodes: groupedNodes[groupedBegin .. groupedEnd) and ungroupedNodes[ungroupedBegin
// .. ungroupedEnd), one slab of the graph or all of it.
struct NodeSpan {
  int groupedBegin, groupedEnd, ungroupedBegin, ungroupedEnd;
};

NodeSpan wholeGraph(const LbpGraph &graph) {
  return {0, static_cast<int>(graph.groupedNodes.size()), 0,
          static_cast<int>(graph.ungroupedNodes.size())};
}

NodeSpan slabOf(const LbpGraph &graph, int b) {
  return {graph.slabGrouped[b], graph.slabGrouped[b + 1], graph.slabUngrouped[b],
          graph.slabUngrouped[b + 1]};
}

// Visits every node of `span` once: with a label count fixed at compile time, `groups` takes
// the span's groups with the lane type of the graph's width and `one` the nodes left over;
// otherwise `one` takes every node.
template <int KC, class Groups, class One>
void visitNodes(const LbpGraph &graph, const NodeSpan &span, Groups groups, One one) {
#ifdef TORVA_LANES
  if constexpr (KC > 0) {
#ifdef TORVA_AVX512_LANES
    if (graph.groupWidth == 8)
      groups(LanesAvx512{}, span.groupedBegin, span.groupedEnd);
#endif
#ifdef TORVA_AVX_LANES
    if (graph.groupWidth == 4)
      groups(LanesAvx{}, span.groupedBegin, span.groupedEnd);
#endif
    if (graph.groupWidth == 2)
      groups(LanesSse2{}, span.groupedBegin, span.groupedEnd);
    for (int i = span.ungroupedBegin; i < span.ungroupedEnd; ++i)
      one(graph.ungroupedNodes[i]);
    return;
  }
#endif
  for (int i = span.groupedBegin; i < span.groupedEnd; ++i)
    one(graph.groupedNodes[i]);
  for (int i = span.ungroupedBegin; i < span.ungroupedEnd; ++i)
    one(graph.ungroupedNodes[i]);
}

// The first sweep, when every message is still 1.0: each product of incoming messages is
// exactly 1.0, so a node sends the same message through all its slots, E_n(s) Q(s) normalised
// with Q(s) = sum_t T(s, t) * 1.0. It is computed once per node with the same operations as
// sendMessages and kept once per node; the second sweep reads it through neighbourNode.
template <int KC> struct FirstSweep {
  static constexpr int kLocal = KC > 0 ? KC : 1;
  double localQ[kLocal];
  std::vector<double> runtimeQ;

  FirstSweep(const double *T, int runtimeK) : runtimeQ(KC > 0 ? 0 : runtimeK) {
    const int K = KC > 0 ? KC : runtimeK;
    const std::vector<double> P(static_cast<std::size_t>(K), 1.0);
    columnMajorProduct<KC>(KC > 0 ? localQ : runtimeQ.data(), T, P.data(), K);
  }

  void send(double *nodeMessages, const LbpGraph &graph, const double *evidence, int n,
            int runtimeK) const {
    const int K = KC > 0 ? KC : runtimeK;
    if (graph.slotOffset[n + 1] == graph.slotOffset[n])
      return; // sends nothing
    const double *Q = KC > 0 ? localQ : runtimeQ.data();
    const double *E = evidence + static_cast<std::size_t>(n) * K;
    double *out = nodeMessages + static_cast<std::size_t>(n) * K;
    double sum = 0.0;
    for (int s = 0; s < K; ++s) {
      out[s] = E[s] * Q[s];
      sum += out[s];
    }
    for (int s = 0; s < K; ++s)
      out[s] /= sum;
  }

  void sendSpan(double *nodeMessages, const LbpGraph &graph, const double *evidence,
                const NodeSpan &span, int K) const {
    for (int i = span.groupedBegin; i < span.groupedEnd; ++i)
      send(nodeMessages, graph, evidence, graph.groupedNodes[i], K);
    for (int i = span.ungroupedBegin; i < span.ungroupedEnd; ++i)
      send(nodeMessages, graph, evidence, graph.ungroupedNodes[i], K);
  }
};

// One sweep after the first over the nodes of `span`: the messages read from `source` give
// every slot of theirs in `next`. Nodes are independent within a sweep (each reads only the
// previous sweep's messages), so the order of visiting them does not matter.
template <int KC>
void sendSweep(double *next, const MessageSource &source, SweepScratch &scratch,
               const LbpGraph &graph, const double *evidence, const double *T, int K,
               const NodeSpan &span) {
  visitNodes<KC>(
      graph, span,
      [&](auto lanes, int begin, int end) {
        sendGroups<KC>(lanes, next, source, graph, evidence, T, begin, end);
      },
      [&](int n) {
        gatherIncoming(scratch, graph, source, n, K);
        sendMessages<KC>(next, scratch, graph, evidence + static_cast<std::size_t>(n) * K, T, n, K);
      });
}

// b_n(s) = E_n(s) * prod_x m_x(s), the product from 1.0 in slot order, normalised.
void beliefOfNode(double *belief, const SweepScratch &scratch, const double *E, int degree, int K) {
  for (int s = 0; s < K; ++s) {
    double q = 1.0;
    for (int x = 0; x < degree; ++x)
      q *= scratch.incoming[x][s];
    belief[s] = E[s] * q;
  }
  double sum = 0.0;
  for (int s = 0; s < K; ++s)
    sum += belief[s];
  for (int s = 0; s < K; ++s)
    belief[s] /= sum;
}

template <int KC>
void collectBeliefs(double *beliefs, const MessageSource &source, SweepScratch &scratch,
                    const LbpGraph &graph, const double *evidence, int K, const NodeSpan &span) {
  visitNodes<KC>(
      graph, span,
      [&](auto lanes, int begin, int end) {
        beliefGroups<KC>(lanes, beliefs, source, graph, evidence, begin, end);
      },
      [&](int n) {
        gatherIncoming(scratch, graph, source, n, K);
        beliefOfNode(beliefs + static_cast<std::size_t>(n) * K, scratch,
                     evidence + static_cast<std::size_t>(n) * K,
                     graph.slotOffset[n + 1] - graph.slotOffset[n], K);
      });
}

// Where the messages of sweep t are read: the first sweep's per-node messages, later sweeps'
// in the table of their parity.
struct SweepTables {
  MessageSource first;
  double *byParity[2];
  const int *readSlot;
  const double *ones;

  double *written(int t) const { return byParity[t % 2]; }
  MessageSource of(int t) const {
    return t == 0 ? first : MessageSource{byParity[t % 2], readSlot, ones};
  }
};

SweepTables sweepTablesOf(LbpWorkspace &workspace, const SweepScratch &scratch,
                          const LbpGraph &graph) {
  const double *ones = scratch.ones.data();
  return {{workspace.nodeMessages.data(), graph.neighbourNode.data(), ones},
          {workspace.current.data(), workspace.next.data()},
          graph.readSlot.data(),
          ones};
}

// Sweep t (0 < t < iterations) or, at t = iterations, the beliefs of the nodes of `span`.
template <int KC>
void runSweepOf(std::vector<double> &beliefs, const SweepTables &tables, SweepScratch &scratch,
                const FirstSweep<KC> &firstSweep, const LbpGraph &graph, const double *evidence,
                const double *T, int iterations, int t, int K, const NodeSpan &span,
                double *nodeMessages) {
  if (t == 0)
    firstSweep.sendSpan(nodeMessages, graph, evidence, span, K);
  else if (t < iterations)
    sendSweep<KC>(tables.written(t), tables.of(t - 1), scratch, graph, evidence, T, K, span);
  else
    collectBeliefs<KC>(beliefs.data(), tables.of(t - 1), scratch, graph, evidence, K, span);
}

template <int KC>
void inferWith(std::vector<double> &beliefs, LbpWorkspace &workspace, SweepScratch &scratch,
               const LbpGraph &graph, const double *evidence, const double *T, int iterations,
               int K) {
  for (int t = 0; t < iterations; ++t)
    torva::progress() << "Iteration " << t << " ";
  beliefs.resize(static_cast<std::size_t>(graph.nodeCount()) * K);
  if (iterations == 0) {
    // Every message is still 1.0.
    const MessageSource ones{workspace.current.data(), graph.readSlot.data(), scratch.ones.data()};
    collectBeliefs<KC>(beliefs.data(), ones, scratch, graph, evidence, K, wholeGraph(graph));
    return;
  }
  const FirstSweep<KC> firstSweep(T, K);
  const SweepTables tables = sweepTablesOf(workspace, scratch, graph);
  double *nodeMessages = workspace.nodeMessages.data();
  const int slabs = graph.slabCount();
  if (slabs <= 1) {
    // Whole sweeps one after another.
    for (int t = 0; t <= iterations; ++t)
      runSweepOf<KC>(beliefs, tables, scratch, firstSweep, graph, evidence, T, iterations, t, K,
                     wholeGraph(graph), nodeMessages);
    return;
  }
  // The wavefront: at step k slab k - t takes sweep t, t ascending, so that slab b + 1 has made
  // sweep t - 1 before slab b reads it and slab b - 1 has read sweep t - 2 of slab b before
  // slab b overwrites it.
  for (int step = 0; step < slabs + iterations; ++step)
    for (int t = std::max(0, step - slabs + 1); t <= iterations && t <= step; ++t)
      runSweepOf<KC>(beliefs, tables, scratch, firstSweep, graph, evidence, T, iterations, t, K,
                     slabOf(graph, step - t), nodeMessages);
}

} // namespace

int lbp_group_width() {
#ifdef TORVA_LANES
#ifdef TORVA_AVX_LANES
  static const int width = __builtin_cpu_supports("avx512f") ? 8
                           : __builtin_cpu_supports("avx")   ? 4
                                                             : 2;
#else
  static const int width = 2;
#endif
  return width;
#else
  return 1;
#endif
}

void place_lbp_messages(LbpGraph &graph) {
  const std::size_t slots = graph.reverseSlot.size();
  std::vector<int> sender(slots, -1); // receiving slot of each sending slot
  bool oneToOne = true;
  for (std::size_t h = 0; h < slots && oneToOne; ++h) {
    const int g = graph.reverseSlot[h];
    if (g < 0 || sender[g] >= 0)
      oneToOne = false;
    else
      sender[g] = static_cast<int>(h);
  }
  lbp_reserve_with_margin(graph.readSlot, slots);
  lbp_reserve_with_margin(graph.writeSlot, slots);
  lbp_reserve_with_margin(graph.neighbourNode, slots);
  graph.readSlot.resize(slots);
  graph.writeSlot.resize(slots);
  graph.messageSlots = static_cast<int>(slots);
  for (std::size_t g = 0; g < slots; ++g) {
    graph.readSlot[g] = oneToOne ? static_cast<int>(g) : graph.reverseSlot[g];
    graph.writeSlot[g] = oneToOne ? sender[g] : static_cast<int>(g);
  }
  std::vector<int> owner(slots);
  for (int n = 0; n < graph.nodeCount(); ++n)
    std::fill(owner.begin() + graph.slotOffset[n], owner.begin() + graph.slotOffset[n + 1], n);
  graph.neighbourNode.resize(slots);
  for (std::size_t g = 0; g < slots; ++g) {
    const int h = graph.reverseSlot[g];
    graph.neighbourNode[g] = h < 0 ? -1 : owner[h];
  }
}

void group_nodes_by_degree(LbpGraph &graph, int width) {
  graph.groupedNodes.clear();
  graph.ungroupedNodes.clear();
  graph.groupWidth = width;
  const int N = graph.nodeCount();
  const bool planned = !graph.slabStart.empty();
  const int slabs = planned ? static_cast<int>(graph.slabStart.size()) - 1 : 1;
  graph.slabGrouped.assign(1, 0);
  graph.slabUngrouped.assign(1, 0);
  constexpr int kLargest = 16; // the grouped kernel's degree limit
  std::vector<std::vector<int>> waiting(kLargest + 1);
  for (int b = 0; b < slabs; ++b) {
    const int begin = planned ? graph.slabStart[b] : 0;
    const int end = planned ? graph.slabStart[b + 1] : N;
    for (int i = begin; i < end; ++i) {
      const int n = planned ? graph.slabNodes[i] : i;
      const int degree = graph.slotOffset[n + 1] - graph.slotOffset[n];
      if (width < 2 || degree == 0 || degree > kLargest) {
        graph.ungroupedNodes.push_back(n);
        continue;
      }
      std::vector<int> &group = waiting[degree];
      group.push_back(n);
      if (static_cast<int>(group.size()) == width) {
        graph.groupedNodes.insert(graph.groupedNodes.end(), group.begin(), group.end());
        group.clear();
      }
    }
    for (std::vector<int> &group : waiting) {
      graph.ungroupedNodes.insert(graph.ungroupedNodes.end(), group.begin(), group.end());
      group.clear();
    }
    graph.slabGrouped.push_back(static_cast<int>(graph.groupedNodes.size()));
    graph.slabUngrouped.push_back(static_cast<int>(graph.ungroupedNodes.size()));
  }
}

int plan_lbp_wavefront(LbpGraph &graph, int minSlabNodes) {
  const int N = graph.nodeCount();
  graph.slabNodes.clear();
  graph.slabStart.clear();
  // Places: node n at n, the last node midway between the neighbours it reads from.
  auto placeOf = [N](int n, int lastPlace) { return n == N - 1 ? lastPlace : n; };
  int lastPlace = N - 1;
  if (N > 0) {
    int low = N - 1;
    int high = 0;
    for (int g = graph.slotOffset[N - 1]; g < graph.slotOffset[N]; ++g) {
      const int u = graph.neighbourNode[g];
      if (u >= 0 && u != N - 1) {
        low = std::min(low, u);
        high = std::max(high, u);
      }
    }
    if (low <= high)
      lastPlace = low + (high - low) / 2;
  }
  int bound = 0;
  for (int n = 0; n < N; ++n)
    for (int g = graph.slotOffset[n]; g < graph.slotOffset[n + 1]; ++g) {
      const int u = graph.neighbourNode[g];
      if (u >= 0)
        bound = std::max(bound, std::abs(placeOf(n, lastPlace) - placeOf(u, lastPlace)));
    }
  const long slabSize = std::max({bound, minSlabNodes, 1});
  const long slabs = N > 0 ? (N - 1) / slabSize + 1 : 0;
  if (slabs >= 3) {
    lbp_reserve_with_margin(graph.slabNodes, static_cast<std::size_t>(N));
    lbp_reserve_with_margin(graph.slabStart, static_cast<std::size_t>(slabs) + 1);
    graph.slabStart.push_back(0);
    const long lastSlab = lastPlace / slabSize;
    for (long b = 0; b < slabs; ++b) {
      const int begin = static_cast<int>(b * slabSize);
      const int end = static_cast<int>(std::min<long>((b + 1) * slabSize, N - 1));
      for (int n = begin; n < end; ++n)
        graph.slabNodes.push_back(n);
      if (b == lastSlab)
        graph.slabNodes.push_back(N - 1);
      graph.slabStart.push_back(static_cast<int>(graph.slabNodes.size()));
    }
  }
  group_nodes_by_degree(graph, graph.groupWidth);
  return bound;
}

void build_lbp_graph(LbpGraph &graph, int representative, const std::vector<int> &candidates,
                     const std::vector<std::vector<int>> &nbhd, const std::vector<int> &dims) {
  const int N = static_cast<int>(candidates.size()) + 1;
  const long volume = volumeOf(dims);
  std::vector<int> ownVoxel(N);
  for (int n = 0; n + 1 < N; ++n)
    ownVoxel[n] = candidates[n] - 1;
  ownVoxel[N - 1] = representative - 1;

  // Filled in node order with the representative last, so its voxel always maps to node C.
  std::vector<int> nodeOfVoxel(static_cast<std::size_t>(volume > 0 ? volume : 0), -1);
  for (int n = 0; n < N; ++n)
    if (ownVoxel[n] >= 0 && ownVoxel[n] < volume)
      nodeOfVoxel[ownVoxel[n]] = n;

  static const std::vector<int> noNeighbours;
  auto listOf = [&](int n) -> const std::vector<int> & {
    return static_cast<std::size_t>(n) < nbhd.size() ? nbhd[n] : noNeighbours;
  };

  lbp_reserve_with_margin(graph.slotOffset, static_cast<std::size_t>(N) + 1);
  graph.slotOffset.assign(N + 1, 0);
  graph.maxDegree = 0;
  for (int n = 0; n < N; ++n) {
    const int degree = static_cast<int>(listOf(n).size() / 2);
    graph.slotOffset[n + 1] = graph.slotOffset[n] + degree;
    if (degree > graph.maxDegree)
      graph.maxDegree = degree;
  }
  lbp_reserve_with_margin(graph.reverseSlot, static_cast<std::size_t>(graph.slotOffset[N]));
  graph.reverseSlot.assign(graph.slotOffset[N], -1);
  for (int n = 0; n < N; ++n) {
    const std::vector<int> &list = listOf(n);
    const int degree = static_cast<int>(list.size() / 2);
    for (int x = 0; x < degree; ++x) {
      const int v = list[2 * x + 1];
      if (v < 0 || v >= volume || nodeOfVoxel[v] < 0)
        continue;
      const int u = nodeOfVoxel[v];
      const int y = lastSlotHolding(listOf(u), ownVoxel[n]);
      if (y >= 0)
        graph.reverseSlot[graph.slotOffset[n] + x] = graph.slotOffset[u] + y;
    }
  }
  place_lbp_messages(graph);
  graph.groupWidth = lbp_group_width();
  plan_lbp_wavefront(graph, kLbpWavefrontSlabNodes);
}

void LbpWorkspace::reserve(const LbpGraph &graph, int K) {
  const std::size_t values = static_cast<std::size_t>(graph.messageSlots) * K;
  lbp_reserve_with_margin(current, values);
  lbp_reserve_with_margin(next, values);
  lbp_reserve_with_margin(nodeMessages, static_cast<std::size_t>(graph.nodeCount()) * K);
}

void lbp_inference(std::vector<double> &beliefs, const LbpGraph &graph,
                   const std::vector<double> &evidence, const std::vector<double> &transition,
                   int iterations, LbpWorkspace &workspace) {
  beliefs.clear();
  const int K = labelCountOf(transition);
  const std::size_t messageValues = static_cast<std::size_t>(graph.messageSlots) * K;
  // Every message starts at 1.0. The first sweep reads none of them (sendFirstSweep), so only
  // an inference without sweeps, whose beliefs read them, needs them filled.
  if (iterations > 0)
    workspace.current.resize(messageValues);
  else
    workspace.current.assign(messageValues, 1.0);
  if (iterations > 1)
    workspace.next.resize(messageValues);
  if (iterations > 0)
    workspace.nodeMessages.resize(static_cast<std::size_t>(graph.nodeCount()) * K);
  SweepScratch scratch(graph.maxDegree, K);
  const double *T = transition.data();
  const double *E = evidence.data();
  // The cluster counts the driver tries get a kernel with the label count fixed at compile time.
  switch (K) {
  case 2:
    inferWith<2>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 3:
    inferWith<3>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 4:
    inferWith<4>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 5:
    inferWith<5>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 6:
    inferWith<6>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 7:
    inferWith<7>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 8:
    inferWith<8>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  case 9:
    inferWith<9>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  default:
    inferWith<0>(beliefs, workspace, scratch, graph, E, T, iterations, K);
    break;
  }
  torva::progress() << "Free Memory\n";
}

void lbp_inference(std::vector<double> &beliefs, int representative,
                   const std::vector<int> &candidates, const std::vector<double> &evidence,
                   const std::vector<double> &transition, const std::vector<std::vector<int>> &nbhd,
                   const std::vector<int> &dims, int iterations) {
  LbpGraph graph;
  build_lbp_graph(graph, representative, candidates, nbhd, dims);
  LbpWorkspace workspace;
  lbp_inference(beliefs, graph, evidence, transition, iterations, workspace);
}
