#include "bn/struct_learning.h"

#include <cstdio>
#include <vector>

namespace {

void printHeader(long cases, const std::vector<int> &order, const std::vector<int> &ns) {
  std::printf("BN Structure Learning\n");
  std::printf("samples %d\n", static_cast<int>(cases));
  std::printf("number of nodes = %d\n", static_cast<int>(order.size()));
  std::printf("node order\n");
  for (const int node : order)
    std::printf("%d ", node);
  std::printf("\n");
  std::printf("node value\n");
  for (const int states : ns)
    std::printf("%d ", states);
  std::printf("\n");
  std::printf("Init. DAG\n");
}

} // namespace

void struct_learning(BN &result, Samples &data) {
  data.setNatureNodeOrder();
  long nodes = 0;
  long cases = 0;
  data.getSize(nodes, cases);
  std::vector<int> ns;
  std::vector<int> order;
  data.getNs(ns);
  data.getNodeOrder(order);
  printHeader(cases, order, ns);

  const int n = static_cast<int>(nodes);
  Dag graph(n);
  BN working;
  working.setSize(n, ns);
  working.setDag(graph);
  BN scratch;

  for (int i = 1; i < n; ++i) {
    const int child = order[i];
    std::printf("\n");
    working.setDag(graph);
    working.getSuffStatNode(data, child);
    double current = working.K2ScoreNode(child, 1);
    std::printf("round %d, node=%d ", i, child + 1);
    std::printf("empty score %7.4f\n", current);

    double best = -9e20;
    int bestParent = -1;
    for (;;) {
      for (int t = 0; t < i; ++t) {
        const int from = order[t];
        // Every candidate is rescored from the whole matrix; nothing is cached between passes.
        copy_bn(scratch, working);
        if (graph.get(from, child) == 1)
          continue;
        graph.set(from, child, 1);
        scratch.setDag(graph);
        scratch.getSuffStatNode(data, child);
        const double score = scratch.K2ScoreNode(child, 1);
        if (score > best) {
          best = score;
          bestParent = from;
        }
        graph.set(from, child, 0);
      }
      if (!(best > current))
        break;
      std::printf("Add %d --> %d , pr_b=%7.4f\n", bestParent + 1, child + 1, best);
      graph.set(bestParent, child, 1);
      working.setDag(graph);
      current = best;
    }
  }
  // The last round may leave its child's counts in the working tables; the result promises
  // zeroed tables throughout.
  working.setDag(graph);
  copy_bn(result, working);
}
