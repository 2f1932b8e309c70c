#include "data/study_view.h"

#include <algorithm>

#include "data/samples.h"
#include "util/popcount.h"

namespace {

using torva::popcount;

bool bitOf(const std::uint64_t *node, int subject) {
  return (node[subject / 64] >> (subject % 64)) & 1u;
}

} // namespace

StudyView::StudyView(const PackedStudy &subjects, const std::vector<int> &chosen, int x, int y,
                     int z)
    : packed(subjects), chosenSubjects(chosen), xSize(x), ySize(y), zSize(z) {
  std::vector<int> multiplicity(static_cast<std::size_t>(subjects.cases()), 0);
  for (const int s : chosen)
    ++multiplicity[s];
  const int largest =
      multiplicity.empty() ? 0 : *std::max_element(multiplicity.begin(), multiplicity.end());
  int planeTotal = 0;
  while ((largest >> planeTotal) != 0)
    ++planeTotal;
  const int W = subjects.words();
  planes.assign(static_cast<std::size_t>(planeTotal) * W, 0);
  selectedMask.assign(static_cast<std::size_t>(W), 0);
  for (int s = 0; s < static_cast<int>(multiplicity.size()); ++s) {
    const std::uint64_t bit = std::uint64_t{1} << (s % 64);
    for (int j = 0; j < planeTotal; ++j)
      if ((multiplicity[s] >> j) & 1)
        planes[static_cast<std::size_t>(j) * W + s / 64] |= bit;
    if (multiplicity[s] > 0)
      selectedMask[s / 64] |= bit;
  }
}

namespace {

// sum_j 2^j * popcount(bits(w) & plane_j(w)) over the words w: the cases in which `bits` is 1.
template <class Bits> long weightedCount(const StudyView &view, Bits bits) {
  const int W = view.words();
  long total = 0;
  for (int j = 0; j < view.planeCount(); ++j) {
    const std::uint64_t *p = view.plane(j);
    long ones = 0;
    for (int w = 0; w < W; ++w)
      ones += popcount(bits(w) & p[w]);
    total += ones << j;
  }
  return total;
}

} // namespace

TORVA_POPCOUNT_KERNEL long StudyView::countOnes(const std::uint64_t *a) const {
  return weightedCount(*this, [a](int w) { return a[w]; });
}

TORVA_POPCOUNT_KERNEL long StudyView::countCommon(const std::uint64_t *a,
                                                  const std::uint64_t *b) const {
  return weightedCount(*this, [a, b](int w) { return a[w] & b[w]; });
}

TORVA_POPCOUNT_KERNEL long StudyView::countDifferent(const std::uint64_t *a,
                                                     const std::uint64_t *b) const {
  return weightedCount(*this, [a, b](int w) { return a[w] ^ b[w]; });
}

TORVA_POPCOUNT_KERNEL bool StudyView::equalOnCases(const std::uint64_t *a,
                                                   const std::uint64_t *b) const {
  const std::uint64_t *s = selected();
  for (int w = 0; w < words(); ++w)
    if (((a[w] ^ b[w]) & s[w]) != 0)
      return false;
  return true;
}

void StudyView::getOneNode(char *dst, long node) const {
  const std::uint64_t *bits = packed.node(node);
  for (std::size_t c = 0; c < chosenSubjects.size(); ++c)
    dst[c] = static_cast<char>('0' + bitOf(bits, chosenSubjects[c]));
}

void StudyView::subset(Samples &dst, const std::vector<int> &nodes) const {
  const long width = static_cast<long>(nodes.size());
  dst.setSize(width, cases());
  char *cells = dst.cellData();
  for (long k = 0; k < width; ++k) {
    const std::uint64_t *bits = packed.node(nodes[k]);
    for (long c = 0; c < cases(); ++c)
      cells[c * width + k] = static_cast<char>('0' + bitOf(bits, chosenSubjects[c]));
  }
}

TORVA_POPCOUNT_KERNEL void StudyView::pre_threshold(std::vector<int> &out, int type,
                                                    double th) const {
  out.clear();
  if (type == 1)
    check_norm_threshold(th, cases());
  const long N = voxels();
  if (type == 1) {
    for (long v = 0; v < N; ++v)
      if (static_cast<double>(countOnes(packed.node(v))) >= th)
        out.push_back(static_cast<int>(v));
    return;
  }
  const std::uint64_t *s = selected();
  const int W = words();
  for (long v = 0; v < N; ++v) {
    const std::uint64_t *bits = packed.node(v);
    std::uint64_t any = 0;
    for (int w = 0; w < W; ++w)
      any |= bits[w] & s[w];
    if (any != 0)
      out.push_back(static_cast<int>(v));
  }
}
