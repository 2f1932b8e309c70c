#include "roi/candidate_scan.h"

#include <algorithm>
#include <ostream>

#include "bn/bn.h"
#include "data/samples.h"
#include "roi/pattern_measures.h"
#include "roi/run_log.h"
#include "util/popcount.h"

namespace {

using torva::popcount;

int countCommon(const std::uint64_t *a, const std::uint64_t *b, int words) {
  int sum = 0;
  for (int w = 0; w < words; ++w)
    sum += popcount(a[w] & b[w]);
  return sum;
}

template <class Evaluator>
void scan(Evaluator &e, const ScanRound &in, std::vector<int> &A, RoundBest &best,
          std::ostream &out) {
  // Norm test: summed states above the integer part of n * share. Shape test (round 1): summed
  // differences from the function variable at most its norm, or half the cases on a tie.
  const int normBound = static_cast<int>(normTestBound(in.cases, in.share));
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
      e.pattern(pattern.data());
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

PackedEvaluator::PackedEvaluator(const StudyView &view, const std::vector<int> &representatives)
    : view(view), function(view.subjects().node(view.functionNode())), words(view.words()),
      planes(view.planeCount()), configurations(1 << representatives.size()) {
  const std::size_t groupCount = static_cast<std::size_t>(2) * configurations;
  groups.assign(groupCount * planes * words, 0);
  groupSizes.assign(groupCount, 0);
  counts.assign(static_cast<std::size_t>(4) * configurations, 0.0);
  const PackedStudy &subjects = view.subjects();
  const std::uint64_t *selectedSubjects = view.selected();
  for (long s = 0; s < subjects.cases(); ++s) {
    const long w = s / 64;
    const std::uint64_t bit = std::uint64_t{1} << (s % 64);
    if ((selectedSubjects[w] & bit) == 0)
      continue;
    int b = 0;
    for (std::size_t i = 0; i < representatives.size(); ++i)
      if (subjects.node(representatives[i] - 1)[w] & bit)
        b |= 1 << i;
    const int k = (function[w] & bit) ? 1 : 0;
    const int group = b + k * configurations;
    for (int j = 0; j < planes; ++j)
      if (view.plane(j)[w] & bit) {
        groups[(static_cast<std::size_t>(group) * planes + j) * words + w] |= bit;
        groupSizes[group] += 1L << j;
      }
  }
}

TORVA_POPCOUNT_KERNEL double PackedEvaluator::familyScore() {
  const int q = 2 * configurations;
  for (int k = 0; k < 2; ++k) {
    for (int b = 0; b < configurations; ++b) {
      const int group = b + k * configurations;
      long ones = 0;
      if (groupSizes[group] != 0) {
        const std::uint64_t *words0 = &groups[static_cast<std::size_t>(group) * planes * words];
        for (int j = 0; j < planes; ++j)
          ones += static_cast<long>(countCommon(words0 + j * words, candidate, words)) << j;
      }
      counts[b + configurations + k * q] = static_cast<double>(ones);
      counts[b + k * q] = static_cast<double>(groupSizes[group] - ones);
    }
  }
  return k2FamilyScore(counts.data(), 2 * q, 2, 1);
}

double PackedEvaluator::ownScore() {
  const long ones = view.countOnes(candidate);
  const double own[2] = {static_cast<double>(view.cases() - ones), static_cast<double>(ones)};
  return k2FamilyScore(own, 2, 2, 1);
}

int PackedEvaluator::norm() const { return static_cast<int>(view.countOnes(candidate)); }

int PackedEvaluator::functionNorm() const { return static_cast<int>(view.countOnes(function)); }

bool PackedEvaluator::differsMoreThan(int th) const {
  return view.countDifferent(function, candidate) > th;
}

void scanCandidates(MatrixEvaluator &evaluator, const ScanRound &round, std::vector<int> &A,
                    RoundBest &best, std::ostream &out) {
  scan(evaluator, round, A, best, out);
}

void scanCandidates(PackedEvaluator &evaluator, const ScanRound &round, std::vector<int> &A,
                    RoundBest &best, std::ostream &out) {
  scan(evaluator, round, A, best, out);
}

TORVA_POPCOUNT_KERNEL long countEqualPatterns(const StudyView &view, const std::vector<int> &V,
                                              int id) {
  const PackedStudy &subjects = view.subjects();
  const std::uint64_t *reference = subjects.node(id - 1);
  long count = 0;
  for (const int v : V)
    count += view.equalOnCases(reference, subjects.node(v - 1)) ? 1 : 0;
  return count;
}

long countEqualPatterns(const Samples &study, const std::vector<int> &V, int id) {
  long nodes = 0;
  long cases = 0;
  study.getSize(nodes, cases);
  std::vector<char> reference(static_cast<std::size_t>(cases));
  std::vector<char> pattern(static_cast<std::size_t>(cases));
  study.getOneNode(reference.data(), id - 1);
  long count = 0;
  for (const int v : V) {
    study.getOneNode(pattern.data(), v - 1);
    count += hamming_dis(reference.data(), pattern.data(), static_cast<int>(cases)) == 0 ? 1 : 0;
  }
  return count;
}
