#pragma once
// A two-state study held as one bit per case and node, node-major, so that the counts over all
// cases of one voxel are a few popcounts instead of a walk down a column of a row-major matrix.
#include <cstdint>
#include <vector>

class Samples;

// The words of node i are bits[i * words .. (i + 1) * words), case c at bit c % 64 of word c / 64.
// Bits past the last case are 0.
class PackedStudy {
public:
  // Packs every node of `study`. Returns false, leaving the copy empty, when some node has
  // other than two states or some cell is neither '0' nor '1'; callers then take the plain
  // route, which counts whatever the cells hold.
  bool build(const Samples &study);
  // `nodes` nodes of `cases` cases, every bit 0.
  void reset(long nodes, long cases);
  // Sets case c of every node from `states` (one value 0 or 1 per node; only bit 0 is read).
  void setCase(long c, const unsigned char *states);
  bool empty() const { return bits.empty(); }
  int words() const { return wordCount; }
  long cases() const { return caseCount; }
  long nodes() const { return nodeCount; }
  const std::uint64_t *node(long node) const { return bits.data() + node * wordCount; }

private:
  std::vector<std::uint64_t> bits;
  int wordCount = 0;
  long caseCount = 0;
  long nodeCount = 0;
};
