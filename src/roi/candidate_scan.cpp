#include "roi/candidate_scan.h"

#include <algorithm>
#include <ostream>

#include "bn/bn.h"
#include "data/samples.h"
#include "roi/run_log.h"
#include "util/pattern_measures.h"

namespace {

int popcount(std::uint64_t word) { return __builtin_popcountll(word); }

int countOnes(const std::uint64_t *a, int words) {
  int sum = 0;
  for (int w = 0; w < words; ++w)
    sum += popcount(a[w]);
  return sum;
}

int countCommon(const std::uint64_t *a, const std::uint64_t *b, int words) {
  int sum = 0;
  for (int w = 0; w < words; ++w)
    sum += popcount(a[w] & b[w]);
  return sum;
}

int countDifferent(const std::uint64_t *a, const std::uint64_t *b, int words) {
  int sum = 0;
  for (int w = 0; w < words; ++w)
    sum += popcount(a[w] ^ b[w]);
  return sum;
}

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

template <class Evaluator>
void scan(Evaluator &e, const ScanRound &in, std::vector<int> &A, RoundBest &best,
          std::ostream &out) {
  // Norm test: summed states above the integer part of n * 0.2. Shape test (round 1): summed
  // differences from the function variable at most its norm, or half the cases on a tie.
  const int normBound = static_cast<int>(in.cases * 0.2);
  const int tieShapeBound = static_cast<int>(in.cases * 0.5);
  const int shapeBound = e.functionNorm();
  std::vector<char> pattern(static_cast<std::size_t>(in.cases));
  for (const int v : in.V) {
    e.select(v);
    const double gain = e.familyScore() - in.baseline;
    if (!(gain > 0))
      continue;
    A.push_back(v);
    if (gain > best.gain) {
      if (!(e.norm() > normBound))
        continue;
      if (in.round == 1 && e.differsMoreThan(shapeBound))
        continue;
      const double score = e.ownScore();
      out << "Id=" << v << " Diff=" << gain << " K2=" << score << '\n';
      in.study.getOneNode(pattern.data(), v - 1);
      writePatternLine(out, pattern.data(), in.cases);
      best.id = v;
      best.gain = gain;
      best.score = score;
    } else if (gain == best.gain) {
      if (!(e.norm() > normBound))
        continue;
      if (in.round == 1 && e.differsMoreThan(tieShapeBound))
        continue;
      const double score = e.ownScore();
      if (score > best.score) { // equal own scores keep the earlier, lower id
        best.id = v;
        best.score = score;
        out << "Id=" << v << " Diff=" << best.gain << " K2=" << score << '\n';
      }
    }
  }
}

} // namespace

bool PackedStudy::build(const Samples &study) {
  bits.clear();
  long nodes = 0;
  study.getSize(nodes, caseCount);
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

MatrixEvaluator::MatrixEvaluator(const Samples &study, Samples &roundMatrix, BN &trial, int round,
                                 long functionNode)
    : study(study), roundMatrix(roundMatrix), trial(trial), slot(round - 1), functionSlot(round) {
  long nodes = 0;
  long n = 0;
  study.getSize(nodes, n);
  cases = static_cast<int>(n);
  candidate.resize(static_cast<std::size_t>(n));
  function.resize(static_cast<std::size_t>(n));
  study.getOneNode(function.data(), functionNode);
}

void MatrixEvaluator::select(int id) {
  study.getOneNode(candidate.data(), id - 1);
  roundMatrix.setOneNode(candidate.data(), slot);
}

double MatrixEvaluator::familyScore() {
  trial.getSuffStatNode(roundMatrix, functionSlot);
  return trial.K2ScoreNode(functionSlot, 1);
}

double MatrixEvaluator::ownScore() {
  trial.getSuffStatNode(roundMatrix, slot);
  return trial.K2ScoreNode(slot, 1);
}

int MatrixEvaluator::norm() const { return vector_norm(candidate.data(), cases); }

int MatrixEvaluator::functionNorm() const { return vector_norm(function.data(), cases); }

bool MatrixEvaluator::differsMoreThan(int th) const {
  return hamming_threshold(function.data(), candidate.data(), cases, th) == 1;
}

PackedEvaluator::PackedEvaluator(const PackedStudy &packed, const std::vector<int> &representatives,
                                 long functionNode)
    : packed(packed), function(packed.node(functionNode)), words(packed.words()),
      configurations(1 << representatives.size()) {
  groups.assign(static_cast<std::size_t>(2) * configurations * words, 0);
  groupSizes.assign(static_cast<std::size_t>(2) * configurations, 0);
  counts.assign(static_cast<std::size_t>(4) * configurations, 0.0);
  for (long c = 0; c < packed.cases(); ++c) {
    const long w = c / 64;
    const std::uint64_t bit = std::uint64_t{1} << (c % 64);
    int b = 0;
    for (std::size_t i = 0; i < representatives.size(); ++i)
      if (packed.node(representatives[i] - 1)[w] & bit)
        b |= 1 << i;
    const int k = (function[w] & bit) ? 1 : 0;
    const int group = b + k * configurations;
    groups[static_cast<std::size_t>(group) * words + w] |= bit;
    ++groupSizes[group];
  }
}

double PackedEvaluator::familyScore() {
  const int q = 2 * configurations;
  for (int k = 0; k < 2; ++k) {
    for (int b = 0; b < configurations; ++b) {
      const int group = b + k * configurations;
      const int ones =
          groupSizes[group] == 0 ? 0 : countCommon(&groups[group * words], candidate, words);
      counts[b + configurations + k * q] = ones;
      counts[b + k * q] = groupSizes[group] - ones;
    }
  }
  return k2FamilyScore(counts.data(), 2 * q, 2, 1);
}

double PackedEvaluator::ownScore() {
  const int ones = countOnes(candidate, words);
  const double own[2] = {static_cast<double>(packed.cases() - ones), static_cast<double>(ones)};
  return k2FamilyScore(own, 2, 2, 1);
}

int PackedEvaluator::norm() const { return countOnes(candidate, words); }

int PackedEvaluator::functionNorm() const { return countOnes(function, words); }

bool PackedEvaluator::differsMoreThan(int th) const {
  return countDifferent(function, candidate, words) > th;
}

void scanCandidates(MatrixEvaluator &evaluator, const ScanRound &round, std::vector<int> &A,
                    RoundBest &best, std::ostream &out) {
  scan(evaluator, round, A, best, out);
}

void scanCandidates(PackedEvaluator &evaluator, const ScanRound &round, std::vector<int> &A,
                    RoundBest &best, std::ostream &out) {
  scan(evaluator, round, A, best, out);
}

long countEqualPatterns(const Samples &study, const PackedStudy &packed, const std::vector<int> &V,
                        int id) {
  long count = 0;
  if (!packed.empty()) {
    const std::uint64_t *reference = packed.node(id - 1);
    for (const int v : V)
      count += std::equal(reference, reference + packed.words(), packed.node(v - 1)) ? 1 : 0;
    return count;
  }
  long nodes = 0;
  long cases = 0;
  study.getSize(nodes, cases);
  std::vector<char> reference(static_cast<std::size_t>(cases));
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  study.getOneNode(reference.data(), id - 1);
  for (const int v : V) {
    study.getOneNode(pattern.data(), v - 1);
    count += hamming_dis(reference.data(), pattern.data(), static_cast<int>(cases)) == 0 ? 1 : 0;
  }
  return count;
}
