#include "roi/region_network.h"

#include <ostream>

#include "bn/bn.h"
#include "bn/dag.h"
#include "data/samples.h"
#include "roi/run_log.h"

void fitRegionNetwork(BN &bn, const Samples &finalMatrix) {
  long nodes = 0;
  long cases = 0;
  finalMatrix.getSize(nodes, cases);
  const int k = static_cast<int>(nodes) - 1;
  std::vector<int> ns;
  finalMatrix.getNs(ns);
  Dag graph;
  graph.setSize(k + 1);
  for (int i = 0; i < k; ++i)
    graph.set(i, k, 1);
  bn.setSize(k + 1, ns);
  bn.setDag(graph);
  bn.getSuffStat(finalMatrix);
  bn.paramLearning(finalMatrix);
}

void reportRepresentatives(std::vector<int> &representatives, const std::vector<int> &R,
                           const Samples &finalMatrix, std::ostream &out) {
  appendClosingBlock(R, finalMatrix);
  long nodes = 0;
  long cases = 0;
  finalMatrix.getSize(nodes, cases);
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  representatives.clear();
  for (std::size_t i = 0; i < R.size(); ++i) {
    out << "Representative voxel " << R[i] << '\n';
    representatives.push_back(R[i]);
    finalMatrix.getOneNode(pattern.data(), static_cast<long>(i));
    writePatternLine(out, pattern.data(), cases);
  }
  out << "function variable\n";
  finalMatrix.getOneNode(pattern.data(), static_cast<long>(R.size()));
  writePatternLine(out, pattern.data(), cases);
}
