#include "segment/lbp.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "segment/lbp_lanes.h"
#include "util/progress.h"

namespace {

int labelCountOf(const std::vector<double> &transition) {
  return static_cast<int>(std::sqrt(static_cast<float>(transition.size())));
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

#define TORVA_LANE_KERNEL "segment/lbp_group_kernel.inc"
#include "segment/lbp_each_lanes.inc"
#undef TORVA_LANE_KERNEL

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

void LbpWorkspace::reserve(const LbpGraph &graph, int K) {
  const std::size_t values = static_cast<std::size_t>(graph.messageSlots) * K;
  lbp_reserve_with_margin(current, values);
  lbp_reserve_with_margin(next, values);
  lbp_reserve_with_margin(nodeMessages, static_cast<std::size_t>(graph.nodeCount()) * K);
}

void lbp_inference(std::vector<double> &beliefs, const LbpGraph &graph,
                   const std::vector<double> &evidence, const std::vector<double> &transition,
                   int iterations, LbpWorkspace &workspace) {
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
