#include "data/packed_study.h"

#include <algorithm>
#include <cstring>

#include "data/samples.h"

namespace {

// Voxels per packing block: the block's words stay in the first-level cache while the case rows
// are read sequentially.
constexpr long kPackBlock = 4096;

// Packs nodes [first, first + count) for the cases of word w; returns the OR of every cell's
// deviation from '0'/'1' (0 when all cells are valid).
unsigned packBlock(const Samples &study, long nodeCount, long first, long count, int w,
                   std::uint64_t *block) {
  std::fill(block, block + count, 0);
  long cases = 0;
  long nodes = 0;
  study.getSize(nodes, cases);
  const long firstCase = 64L * w;
  const long lastCase = std::min(cases, firstCase + 64);
  unsigned invalid = 0;
  for (long c = firstCase; c < lastCase; ++c) {
    const unsigned char *row =
        reinterpret_cast<const unsigned char *>(study.cellData()) + c * nodeCount + first;
    const int shift = static_cast<int>(c - firstCase);
    for (long v = 0; v < count; ++v) {
      invalid |= (row[v] & 0xFEu) ^ 0x30u;
      block[v] |= static_cast<std::uint64_t>(row[v] & 1u) << shift;
    }
  }
  return invalid;
}

} // namespace

bool PackedStudy::build(const Samples &study) {
  bits.clear();
  long nodes = 0;
  study.getSize(nodes, caseCount);
  nodeCount = nodes;
  std::vector<int> ns;
  study.getNs(ns);
  if (std::any_of(ns.begin(), ns.end(), [](int states) { return states != 2; }))
    return false;
  wordCount = static_cast<int>((caseCount + 63) / 64);
  bits.assign(static_cast<std::size_t>(nodes) * wordCount, 0);
  std::vector<std::uint64_t> block(kPackBlock);
  unsigned invalid = 0;
  for (long first = 0; first < nodes; first += kPackBlock) {
    const long count = std::min(kPackBlock, nodes - first);
    for (int w = 0; w < wordCount; ++w) {
      invalid |= packBlock(study, nodes, first, count, w, block.data());
      for (long v = 0; v < count; ++v)
        bits[(first + v) * wordCount + w] = block[v];
    }
  }
  if (invalid != 0) {
    bits.clear();
    return false;
  }
  return true;
}

void PackedStudy::reset(long nodes, long cases) {
  nodeCount = nodes;
  caseCount = cases;
  wordCount = static_cast<int>((cases + 63) / 64);
  bits.assign(static_cast<std::size_t>(nodes) * wordCount, 0);
}

void PackedStudy::setCase(long c, const unsigned char *states) {
  const std::uint64_t bit = std::uint64_t{1} << (c % 64);
  std::uint64_t *first = bits.data() + c / 64;
  long i = 0;
  // Lesion maps are mostly 0, so runs of eight zero states are skipped with one test.
  for (; i + 8 <= nodeCount; i += 8) {
    std::uint64_t eight = 0;
    std::memcpy(&eight, states + i, sizeof eight);
    if ((eight & 0x0101010101010101u) == 0)
      continue;
    for (long k = i; k < i + 8; ++k)
      if (states[k] & 1u)
        first[k * wordCount] |= bit;
  }
  for (; i < nodeCount; ++i)
    if (states[i] & 1u)
      first[i * wordCount] |= bit;
}
