// Counting joint configurations of chosen columns: the inner loop of every network score.
#include <cstdio>

#include "data/samples.h"

void Samples::getDistribution(std::vector<double> &counts, const std::vector<int> &nodes) const {
  std::vector<long> strides;
  getDistribution(counts, nodes, strides);
}

// Strides w_0 = 1, w_t = w_{t-1} * ns(L_t); the configuration of case c is
// sum_t (cell(c, L_t) - '0') * w_t, the first listed column fastest.
bool Samples::getDistribution(std::vector<double> &counts, const std::vector<int> &nodes,
                              std::vector<long> &strides) const {
  counts.clear();
  const std::size_t m = nodes.size();
  for (std::size_t t = 0; t < m; ++t) {
    if (nodes[t] < 0 || nodes[t] >= nodeCount) {
      std::fprintf(stderr, "Samples::getDistribution: column %d is outside the %d columns\n",
                   nodes[t], nodeCount);
      return false;
    }
  }
  strides.resize(m + 1);
  strides[0] = 1;
  for (std::size_t t = 1; t <= m; ++t)
    strides[t] = strides[t - 1] * ns[nodes[t - 1]];
  counts.assign(static_cast<std::size_t>(strides[m] > 0 ? strides[m] : 0), 0.0);

  const char *row = cells.data();
  const int *column = nodes.data();
  const int *states = ns.data();
  for (int c = 0; c < caseCount; ++c, row += nodeCount) {
    long index = 0;
    std::size_t t = 0;
    for (; t < m; ++t) {
      const int state = static_cast<signed char>(row[column[t]]) - 48;
      if (state < 0 || state >= states[column[t]])
        break;
      index += state * strides[t];
    }
    if (t < m) {
      // A state outside the column's range would index past the table: skip the case.
      std::fprintf(stderr,
                   "Samples::getDistribution: case %d of column %d holds byte %d, not a state "
                   "0 .. %d; case skipped\n",
                   c, column[t], static_cast<int>(static_cast<signed char>(row[column[t]])),
                   states[column[t]] - 1);
      continue;
    }
    counts[index] += 1.0;
  }
  return true;
}
