#include "roi/region_network.h"

#include <ostream>

#include "bn/bn.h"
#include "bn/dag.h"
#include "data/samples.h"
#include "roi/run_log.h"

void fitRegionNetwork(BN &bn, Samples &scratch, const Samples &study, const std::vector<int> &R,
                      long functionNode) {
  const int k = static_cast<int>(R.size());
  std::vector<int> nodes;
  nodes.reserve(R.size() + 1);
  for (const int id : R)
    nodes.push_back(id - 1);
  nodes.push_back(static_cast<int>(functionNode));
  subset_node(scratch, study, nodes);
  std::vector<int> ns;
  scratch.getNs(ns);
  Dag graph;
  graph.setSize(k + 1);
  for (int i = 0; i < k; ++i)
    graph.set(i, k, 1);
  bn.setSize(k + 1, ns);
  bn.setDag(graph);
  bn.getSuffStat(scratch);
  bn.paramLearning(scratch);
}

void reportRepresentatives(std::vector<int> &representatives, const std::vector<int> &R,
                           const Samples &study, long functionNode, std::ostream &out) {
  appendClosingBlock(R, study, functionNode);
  long nodes = 0;
  long cases = 0;
  study.getSize(nodes, cases);
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  representatives.clear();
  for (const int id : R) {
    out << "Representative voxel " << id << '\n';
    representatives.push_back(id);
    study.getOneNode(pattern.data(), id - 1);
    writePatternLine(out, pattern.data(), cases);
  }
  out << "function variable\n";
  study.getOneNode(pattern.data(), functionNode);
  writePatternLine(out, pattern.data(), cases);
}
