#include "report/outcome_tables.h"

#include <algorithm>

#include "bn/bn.h"

std::vector<std::vector<double>> outcomeGivenRegion(const BN &network, int r) {
  const int outcome = network.getNodeCount() - 1;
  std::vector<int> parents;
  network.getDag().getParents(parents, outcome);
  const auto at = std::find(parents.begin(), parents.end(), r);
  const std::vector<double> &table = network.getCPD(outcome);
  if (outcome < 1 || at == parents.end() || table.size() < 2)
    return {};
  const std::vector<int> &ns = network.getNs();
  const int states = ns[outcome];
  const long q = static_cast<long>(table.size() - 2) / states;
  std::vector<std::vector<double>> given(ns[r], std::vector<double>(states, 0.0));
  // Configuration j: the parents' states in ascending id order, the lowest varying fastest.
  for (long j = 0; j < q; ++j) {
    long rest = j;
    int ownState = 0;
    double weight = 1.0;
    for (const int p : parents) {
      const int s = static_cast<int>(rest % ns[p]);
      rest /= ns[p];
      if (p == r)
        ownState = s;
      else
        weight *= network.getCPD(p)[2 + s]; // a root's table is its prior
    }
    for (int k = 0; k < states; ++k)
      given[ownState][k] += weight * table[2 + j + k * q];
  }
  return given;
}
