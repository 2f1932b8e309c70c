// Counting joint configurations of chosen columns: the inner loop of every network score.
#include <cstdio>

#include "data/samples.h"

namespace {

void reportInvalidCase(int c, const char *row, const std::vector<int> &nodes, const int *ns) {
  for (const int column : nodes) {
    const int value = static_cast<signed char>(row[column]);
    if (value - 48 < 0 || value - 48 >= ns[column]) {
      // Counting it would index past the table, so the case is left out.
      std::fprintf(stderr,
                   "Samples::getDistribution: case %d of column %d holds byte %d, not a state "
                   "0 .. %d; case skipped\n",
                   c, column, value, ns[column] - 1);
      return;
    }
  }
}

// One pass over the cases. M > 0 fixes the column count at compile time so that the columns,
// limits and strides of the usual small families stay in registers; M = 0 takes it from m.
template <int M>
void countCases(std::vector<double> &counts, const char *row, int caseCount, int nodeCount,
                const std::vector<int> &nodes, const int *ns, const long *strides) {
  constexpr int kLocal = M > 0 ? M : 1;
  const int m = M > 0 ? M : static_cast<int>(nodes.size());
  int column[kLocal];
  unsigned limit[kLocal];
  long stride[kLocal];
  if (M > 0) {
    for (int t = 0; t < M; ++t) {
      column[t] = nodes[t];
      limit[t] = static_cast<unsigned>(ns[nodes[t]]);
      stride[t] = strides[t];
    }
  }
  const int *cols = M > 0 ? column : nodes.data();
  double *table = counts.data();
  for (int c = 0; c < caseCount; ++c, row += nodeCount) {
    long index = 0;
    bool valid = true;
    for (int t = 0; t < m; ++t) {
      const int state = static_cast<signed char>(row[cols[t]]) - 48;
      const unsigned bound = M > 0 ? limit[t] : static_cast<unsigned>(ns[cols[t]]);
      valid &= static_cast<unsigned>(state) < bound;
      index += state * (M > 0 ? stride[t] : strides[t]);
    }
    if (valid)
      table[index] += 1.0;
    else
      reportInvalidCase(c, row, nodes, ns);
  }
}

} // namespace

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
  switch (m) {
  case 1:
    countCases<1>(counts, row, caseCount, nodeCount, nodes, ns.data(), strides.data());
    break;
  case 2:
    countCases<2>(counts, row, caseCount, nodeCount, nodes, ns.data(), strides.data());
    break;
  case 3:
    countCases<3>(counts, row, caseCount, nodeCount, nodes, ns.data(), strides.data());
    break;
  case 4:
    countCases<4>(counts, row, caseCount, nodeCount, nodes, ns.data(), strides.data());
    break;
  default:
    countCases<0>(counts, row, caseCount, nodeCount, nodes, ns.data(), strides.data());
  }
  return true;
}
