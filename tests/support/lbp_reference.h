#pragma once
// The plain route of belief propagation, which every fast route must match bit for bit.
#include <cmath>
#include <vector>

#include "segment/message.h"

namespace testsupport {

// The plain per-node algorithm: two message tables per node, incoming messages gathered through
// the voxel-to-node table and a scan of the neighbour's list, new messages from prod_without_i,
// matrix_prod_vector and vector_dot_vector. A neighbour that does not list the node back sends
// all ones. The fast inference must match it bit for bit.
inline std::vector<double> referenceBeliefs(int representative, const std::vector<int> &candidates,
                                            const std::vector<double> &evidence,
                                            const std::vector<double> &T,
                                            const std::vector<std::vector<int>> &nbhd,
                                            const std::vector<int> &dims, int iterations) {
  const int K = static_cast<int>(std::sqrt(static_cast<float>(T.size())));
  const int N = static_cast<int>(candidates.size()) + 1;
  auto voxelOf = [&](int n) { return n < N - 1 ? candidates[n] - 1 : representative - 1; };
  std::vector<int> table(dims[0] * dims[1] * dims[2], -1);
  for (int n = 0; n < N; ++n)
    table[voxelOf(n)] = n;
  std::vector<LbpMessage> current(N);
  std::vector<LbpMessage> next(N);
  for (int n = 0; n < N; ++n) {
    current[n].setSize(K, static_cast<int>(nbhd[n].size() / 2));
    next[n].setSize(K, static_cast<int>(nbhd[n].size() / 2));
  }
  auto gather = [&](LbpMessage &incoming, int n) {
    const int d = static_cast<int>(nbhd[n].size() / 2);
    incoming.setSize(K, d);
    std::vector<double> message;
    for (int x = 0; x < d; ++x) {
      const int u = table[nbhd[n][2 * x + 1]];
      int y = -1;
      for (std::size_t k = 0; k < nbhd[u].size() / 2; ++k)
        if (nbhd[u][2 * k + 1] == voxelOf(n))
          y = static_cast<int>(k);
      if (y >= 0) {
        current[u].getMessage(message, y);
        incoming.setMessage(message, x);
      }
    }
  };
  LbpMessage incoming;
  LbpMessage outgoing;
  std::vector<double> P, Q, m;
  for (int t = 0; t < iterations; ++t) {
    for (int n = 0; n < N; ++n) {
      gather(incoming, n);
      const std::vector<double> E(evidence.begin() + n * K, evidence.begin() + n * K + K);
      const int d = static_cast<int>(nbhd[n].size() / 2);
      outgoing.setSize(K, d);
      for (int x = 0; x < d; ++x) {
        incoming.prod_without_i(P, x);
        matrix_prod_vector(T, P, Q);
        vector_dot_vector(E, Q, m);
        outgoing.setMessage(m, x);
      }
      outgoing.normalize();
      for (int x = 0; x < d; ++x) {
        outgoing.getMessage(m, x);
        next[n].setMessage(m, x);
      }
    }
    for (int n = 0; n < N; ++n)
      for (int x = 0; x < static_cast<int>(nbhd[n].size() / 2); ++x) {
        next[n].getMessage(m, x);
        current[n].setMessage(m, x);
      }
  }
  std::vector<double> beliefs;
  for (int n = 0; n < N; ++n) {
    gather(incoming, n);
    incoming.prod(Q);
    std::vector<double> belief(K);
    double sum = 0.0;
    for (int s = 0; s < K; ++s) {
      belief[s] = evidence[n * K + s] * Q[s];
      sum += belief[s];
    }
    for (int s = 0; s < K; ++s)
      beliefs.push_back(belief[s] / sum);
  }
  return beliefs;
}

} // namespace testsupport
