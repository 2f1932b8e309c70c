#include "bn/bn.h"

#include <algorithm>
#include <cstdio>

#include "util/progress_line.h"

BN::BN() = default;
BN::~BN() = default;

void BN::setSize(int n, const std::vector<int> &states) {
  if (n != static_cast<int>(states.size())) {
    torva::writeStandardError("BN::setSize BN Init Error::nNodes!=ns.size()");
  } else {
    nNodes = n;
    ns = states;
    names.clear();
    char name[32];
    for (int i = 0; i < n; ++i) {
      std::snprintf(name, sizeof name, "node%d", i);
      names.emplace_back(name);
    }
  }
  dag.setSize(n);
  cpd.clear();
}

void BN::setDag(const Dag &newDag) {
  if (newDag.getSize() != nNodes) {
    torva::writeStandardError("BN::setDag error: numNodes!=dag.size");
    return;
  }
  copy_dag(dag, newDag);
  std::vector<int> sizes;
  getCPDVectorSize(sizes);
  cpd.clear();
  cpd.reserve(nNodes);
  for (int i = 0; i < nNodes; ++i) {
    std::vector<double> table(2 + static_cast<std::size_t>(sizes[i]), 0.0);
    table[0] = i;
    table[1] = sizes[i];
    cpd.push_back(std::move(table));
  }
}

void BN::getCPDVectorSize(std::vector<int> &sizes) const {
  sizes.clear();
  dag.getParentLists(parentOffsets, family);
  // A refused setSize can leave the graph with fewer nodes than the network.
  const int listed = static_cast<int>(parentOffsets.size()) - 1;
  for (int i = 0; i < nNodes; ++i) {
    int entries = ns[i];
    if (i < listed)
      for (int p = parentOffsets[i]; p < parentOffsets[i + 1]; ++p)
        entries *= ns[family[p]];
    sizes.push_back(entries);
  }
}

const std::vector<double> *BN::findCPD(int node) const {
  if (node < 0 || static_cast<std::size_t>(node) >= cpd.size())
    return nullptr;
  const std::vector<double> &table = cpd[static_cast<std::size_t>(node)];
  return !table.empty() && static_cast<int>(table[0]) == node ? &table : nullptr;
}

std::vector<double> *BN::findCPD(int node) {
  return const_cast<std::vector<double> *>(static_cast<const BN *>(this)->findCPD(node));
}

const std::vector<double> &BN::getCPD(int node) const {
  static const std::vector<double> none;
  const std::vector<double> *table = findCPD(node);
  return table != nullptr ? *table : none;
}

void BN::getSuffStatNode(const Samples &data, int node) {
  if (node < 0 || node >= nNodes)
    return;
  dag.getParents(family, node);
  family.push_back(node);
  if (!data.getDistribution(counts, family, strides))
    return;
  // Replaced in place: the table keeps its capacity, so a candidate scan allocates nothing.
  if (std::vector<double> *table = findCPD(node)) {
    table->resize(2 + counts.size());
    (*table)[1] = static_cast<double>(counts.size());
    std::copy(counts.begin(), counts.end(), table->begin() + 2);
  }
}

void BN::getSuffStat(const Samples &data) {
  for (int i = 0; i < nNodes; ++i)
    getSuffStatNode(data, i);
}

// P(k | j) = (N_jk + 1) / sum_k' (N_jk' + 1).
void BN::paramLearning(const Samples & /*data*/) {
  for (std::vector<double> &table : cpd)
    for (std::size_t e = 2; e < table.size(); ++e)
      table[e] += 1.0;
  for (int i = 0; i < nNodes; ++i) {
    const int r = ns[i];
    if (r <= 0)
      continue;
    if (std::vector<double> *found = findCPD(i)) {
      std::vector<double> &table = *found;
      const std::size_t q = (table.size() - 2) / static_cast<std::size_t>(r);
      for (std::size_t j = 0; j < q; ++j) {
        double sum = 0.0;
        for (int k = 0; k < r; ++k)
          sum += table[2 + j + k * q];
        if (sum == 0.0)
          continue;
        for (int k = 0; k < r; ++k)
          table[2 + j + k * q] /= sum;
      }
    }
  }
}

void copy_bn(BN &dst, const BN &src) {
  dst.setSize(src.getNodeCount(), src.getNs());
  dst.setDag(src.getDag());
  for (int i = 0; i < src.getNodeCount(); ++i) {
    const std::vector<double> *from = src.findCPD(i);
    std::vector<double> *to = dst.findCPD(i);
    if (from != nullptr && to != nullptr)
      *to = *from;
  }
}
