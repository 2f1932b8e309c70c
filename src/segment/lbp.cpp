#include "segment/lbp.h"

#include <cmath>
#include <iostream>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
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
  E.clear();
  E.reserve(features.size() * means.size());
  for (double x : features)
    for (double mu : means) {
      const double d = x - mu;
      E.push_back(std::exp(-(d * d)));
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

void gatherIncoming(SweepScratch &scratch, const LbpGraph &graph, const std::vector<double> &cur,
                    int n, int K) {
  const int first = graph.slotOffset[n];
  const int degree = graph.slotOffset[n + 1] - first;
  for (int x = 0; x < degree; ++x) {
    const int from = graph.reverseSlot[first + x];
    scratch.incoming[x] =
        from < 0 ? scratch.ones.data() : cur.data() + static_cast<std::size_t>(from) * K;
  }
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
void sendMessages(std::vector<double> &next, SweepScratch &scratch, const LbpGraph &graph,
                  const double *E, const double *T, int n, int runtimeK) {
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
    double *out = next.data() + static_cast<std::size_t>(first + x) * K;
    double sum = 0.0;
    for (int s = 0; s < K; ++s) {
      out[s] = E[s] * Q[s];
      sum += out[s];
    }
    for (int s = 0; s < K; ++s)
      out[s] /= sum;
  }
}

#ifdef __SSE2__
// Degree up to which two nodes are updated together; larger degrees (possible only in a
// neighbourhood read from a file) take the one-node kernel.
constexpr int kPairedDegree = 16;

// New messages of two nodes n0 and n1 of the same degree at once: lane 0 of every SSE2 register
// computes node n0, lane 1 node n1, each with exactly the operations of sendMessages in the same
// order, so both are bit-identical to the one-node kernel. Only independent outputs share an
// instruction; no sum is split or reordered.
template <int KC>
void sendMessagesOfPair(double *next, const double *cur, const LbpGraph &graph, const double *E,
                        const double *T, const double *ones, int n0, int n1) {
  constexpr int K = KC;
  const int first0 = graph.slotOffset[n0];
  const int first1 = graph.slotOffset[n1];
  const int degree = graph.slotOffset[n0 + 1] - first0;
  __m128d msg[kPairedDegree][K];
  for (int x = 0; x < degree; ++x) {
    const int from0 = graph.reverseSlot[first0 + x];
    const int from1 = graph.reverseSlot[first1 + x];
    const double *a = from0 < 0 ? ones : cur + static_cast<std::size_t>(from0) * K;
    const double *b = from1 < 0 ? ones : cur + static_cast<std::size_t>(from1) * K;
    for (int s = 0; s < K; ++s)
      msg[x][s] = _mm_set_pd(b[s], a[s]);
  }
  __m128d prefix[kPairedDegree + 1][K];
  for (int s = 0; s < K; ++s)
    prefix[0][s] = _mm_set1_pd(1.0);
  for (int x = 0; x < degree; ++x)
    for (int s = 0; s < K; ++s)
      prefix[x + 1][s] = _mm_mul_pd(prefix[x][s], msg[x][s]);
  const double *E0 = E + static_cast<std::size_t>(n0) * K;
  const double *E1 = E + static_cast<std::size_t>(n1) * K;
  __m128d evidence[K];
  for (int s = 0; s < K; ++s)
    evidence[s] = _mm_set_pd(E1[s], E0[s]);
  for (int x = 0; x < degree; ++x) {
    __m128d P[K];
    for (int s = 0; s < K; ++s)
      P[s] = prefix[x][s];
    for (int m = x + 1; m < degree; ++m)
      for (int s = 0; s < K; ++s)
        P[s] = _mm_mul_pd(P[s], msg[m][s]);
    __m128d out[K];
    __m128d sum = _mm_setzero_pd();
    for (int s = 0; s < K; ++s) {
      __m128d q = _mm_setzero_pd();
      for (int t = 0; t < K; ++t)
        q = _mm_add_pd(q, _mm_mul_pd(_mm_set1_pd(T[s + t * K]), P[t]));
      out[s] = _mm_mul_pd(evidence[s], q);
      sum = _mm_add_pd(sum, out[s]);
    }
    double *to0 = next + static_cast<std::size_t>(first0 + x) * K;
    double *to1 = next + static_cast<std::size_t>(first1 + x) * K;
    for (int s = 0; s < K; ++s) {
      const __m128d value = _mm_div_pd(out[s], sum);
      _mm_storel_pd(to0 + s, value);
      _mm_storeh_pd(to1 + s, value);
    }
  }
}
#endif

template <int KC>
void runSweeps(std::vector<double> &cur, std::vector<double> &next, SweepScratch &scratch,
               const LbpGraph &graph, const double *evidence, const double *T, int iterations,
               int K) {
  for (int t = 0; t < iterations; ++t) {
    torva::progress() << "Iteration " << t << " ";
    // Nodes are independent within a sweep (each reads only the previous sweep's messages),
    // so the order of visiting them does not matter.
#ifdef __SSE2__
    if constexpr (KC > 0) {
      for (std::size_t p = 0; p + 1 < graph.pairedNodes.size(); p += 2)
        sendMessagesOfPair<KC>(next.data(), cur.data(), graph, evidence, T, scratch.ones.data(),
                               graph.pairedNodes[p], graph.pairedNodes[p + 1]);
      for (const int n : graph.unpairedNodes) {
        gatherIncoming(scratch, graph, cur, n, K);
        sendMessages<KC>(next, scratch, graph, evidence + static_cast<std::size_t>(n) * K, T, n, K);
      }
      std::swap(cur, next);
      continue;
    }
#endif
    const int N = graph.nodeCount();
    for (int n = 0; n < N; ++n) {
      gatherIncoming(scratch, graph, cur, n, K);
      sendMessages<KC>(next, scratch, graph, evidence + static_cast<std::size_t>(n) * K, T, n, K);
    }
    // Every slot was rewritten, so swapping is the synchronous copy of next into current.
    std::swap(cur, next);
  }
}

void appendBelief(std::vector<double> &beliefs, const SweepScratch &scratch, const double *E,
                  int degree, int K) {
  const std::size_t start = beliefs.size();
  for (int s = 0; s < K; ++s) {
    double q = 1.0;
    for (int x = 0; x < degree; ++x)
      q *= scratch.incoming[x][s];
    beliefs.push_back(E[s] * q);
  }
  double sum = 0.0;
  for (int s = 0; s < K; ++s)
    sum += beliefs[start + s];
  for (int s = 0; s < K; ++s)
    beliefs[start + s] /= sum;
}

} // namespace

void pairNodesByDegree(LbpGraph &graph) {
  graph.pairedNodes.clear();
  graph.unpairedNodes.clear();
  const int N = graph.nodeCount();
  constexpr int kLargest = 16; // the paired kernel's degree limit
  std::vector<int> waiting(kLargest + 1, -1);
  for (int n = 0; n < N; ++n) {
    const int degree = graph.slotOffset[n + 1] - graph.slotOffset[n];
    if (degree == 0 || degree > kLargest) {
      graph.unpairedNodes.push_back(n);
    } else if (waiting[degree] < 0) {
      waiting[degree] = n;
    } else {
      graph.pairedNodes.push_back(waiting[degree]);
      graph.pairedNodes.push_back(n);
      waiting[degree] = -1;
    }
  }
  for (const int n : waiting)
    if (n >= 0)
      graph.unpairedNodes.push_back(n);
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

  graph.slotOffset.assign(N + 1, 0);
  graph.maxDegree = 0;
  for (int n = 0; n < N; ++n) {
    const int degree = static_cast<int>(listOf(n).size() / 2);
    graph.slotOffset[n + 1] = graph.slotOffset[n] + degree;
    if (degree > graph.maxDegree)
      graph.maxDegree = degree;
  }
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
  pairNodesByDegree(graph);
}

void LbpWorkspace::reserve(const LbpGraph &graph, int K) {
  const std::size_t values = static_cast<std::size_t>(graph.slotOffset.back()) * K;
  current.reserve(values);
  next.reserve(values);
}

void lbp_inference(std::vector<double> &beliefs, const LbpGraph &graph,
                   const std::vector<double> &evidence, const std::vector<double> &transition,
                   int iterations, LbpWorkspace &workspace) {
  beliefs.clear();
  const int K = labelCountOf(transition);
  const int N = graph.nodeCount();
  const std::size_t messageValues = static_cast<std::size_t>(graph.slotOffset[N]) * K;
  std::vector<double> &cur = workspace.current;
  std::vector<double> &next = workspace.next;
  cur.assign(messageValues, 1.0);
  next.resize(messageValues);
  SweepScratch scratch(graph.maxDegree, K);
  const double *T = transition.data();

  const double *E = evidence.data();
  // The cluster counts the driver tries get a kernel with the label count fixed at compile time.
  switch (K) {
  case 2:
    runSweeps<2>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 3:
    runSweeps<3>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 4:
    runSweeps<4>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 5:
    runSweeps<5>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 6:
    runSweeps<6>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 7:
    runSweeps<7>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 8:
    runSweeps<8>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  case 9:
    runSweeps<9>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  default:
    runSweeps<0>(cur, next, scratch, graph, E, T, iterations, K);
    break;
  }

  beliefs.reserve(static_cast<std::size_t>(N) * K);
  for (int n = 0; n < N; ++n) {
    gatherIncoming(scratch, graph, cur, n, K);
    appendBelief(beliefs, scratch, evidence.data() + static_cast<std::size_t>(n) * K,
                 graph.slotOffset[n + 1] - graph.slotOffset[n], K);
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
