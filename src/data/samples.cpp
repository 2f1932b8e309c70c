#include "data/samples.h"

#include <cstring>
#include <numeric>

#include "util/progress_line.h"

Samples::Samples() = default;
Samples::~Samples() = default;

void Samples::getSize(long &nodes, long &cases) const {
  nodes = nodeCount;
  cases = caseCount;
}

void Samples::setSize(long nodes, long cases) {
  nodeCount = static_cast<int>(nodes);
  caseCount = static_cast<int>(cases);
  nodeIds.resize(nodes);
  std::iota(nodeIds.begin(), nodeIds.end(), 0);
  ns.assign(nodes, 2);
  nodeOrder = nodeIds;
  xSize = ySize = zSize = 0;
  cells.clear();
  cells.shrink_to_fit();
  cells.resize(static_cast<std::size_t>(nodes) * static_cast<std::size_t>(cases));
}

void Samples::getOneNode(char *dst, long node) const {
  if (node < 0 || node >= nodeCount) {
    torva::writeStandardError("Samples::getOneNode: out of bound");
    return;
  }
  const char *src = cells.data() + node;
  for (int c = 0; c < caseCount; ++c, src += nodeCount)
    dst[c] = *src;
}

void Samples::setOneNode(const char *src, long node) {
  if (node < 0 || node >= nodeCount) {
    torva::writeStandardError("Samples::setOneNode: out of bound");
    return;
  }
  char *dst = cells.data() + node;
  for (int c = 0; c < caseCount; ++c, dst += nodeCount)
    *dst = src[c];
}

void Samples::getNs(std::vector<int> &out) const { out = ns; }

void Samples::setNs(const std::vector<int> &states) { ns = states; }

void Samples::getXYZSiz(std::vector<int> &v) const { v = {xSize, ySize, zSize}; }

void Samples::setXYZSiz(int x, int y, int z) {
  xSize = x;
  ySize = y;
  zSize = z;
}

void Samples::setNatureNodeOrder() {
  nodeOrder.resize(nodeCount);
  std::iota(nodeOrder.begin(), nodeOrder.end(), 0);
}

void Samples::getNodeOrder(std::vector<int> &order) const { order = nodeOrder; }

void subset_node(Samples &dst, const Samples &src, const std::vector<int> &nodes) {
  long srcNodes = 0;
  long cases = 0;
  src.getSize(srcNodes, cases);
  const long width = static_cast<long>(nodes.size());
  dst.setSize(width, cases);
  std::vector<int> srcNs;
  src.getNs(srcNs);
  std::vector<int> dstNs(nodes.size());
  for (std::size_t k = 0; k < nodes.size(); ++k)
    dstNs[k] = srcNs[nodes[k]];
  dst.setNs(dstNs);
  const char *from = src.cellData();
  char *to = dst.cellData();
  for (long c = 0; c < cases; ++c) {
    const char *row = from + c * srcNodes;
    char *out = to + c * width;
    for (long k = 0; k < width; ++k)
      out[k] = row[nodes[k]];
  }
}
