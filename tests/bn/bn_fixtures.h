#pragma once
// Small networks and sample matrices shared by the network tests.
#include <string>
#include <vector>

#include "bn/bn.h"
#include "data/samples.h"

namespace bntest {

// A matrix from rows of state digits, one string per case ("01" is node 0 in state 0,
// node 1 in state 1); every node gets `states` states.
inline void fillSamples(Samples &data, const std::vector<std::string> &rows, int states = 2) {
  const long nodes = rows.empty() ? 0 : static_cast<long>(rows[0].size());
  data.setSize(nodes, static_cast<long>(rows.size()));
  data.setNs(std::vector<int>(static_cast<std::size_t>(nodes), states));
  for (std::size_t c = 0; c < rows.size(); ++c)
    for (long i = 0; i < nodes; ++i)
      data.setCell(static_cast<long>(c), i, rows[c][static_cast<std::size_t>(i)]);
}

// Twenty cases: node 0 is 0 eleven times; node 1 agrees with node 0 except in one case
// (node 0 = 0, node 1 = 1).
inline std::vector<std::string> twoNodeRows() {
  std::vector<std::string> rows;
  for (int c = 0; c < 10; ++c)
    rows.push_back("00");
  rows.push_back("01");
  for (int c = 0; c < 9; ++c)
    rows.push_back("11");
  return rows;
}

// The two-node network (arc node0 -> node1) counted on twoNodeRows().
inline void countTwoNodeNetwork(BN &bn, Samples &data) {
  fillSamples(data, twoNodeRows());
  bn.setSize(2, {2, 2});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  bn.getSuffStat(data);
}

} // namespace bntest
