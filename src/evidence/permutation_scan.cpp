#include "evidence/permutation_scan.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "bn/bn.h"
#include "util/gammaln.h"
#include "util/popcount.h"

namespace {

using torva::popcount;

// One parent configuration's K2 term with prior 1, in the operations and order of the
// network's family score, so a sum of these terms has the bits of K2ScoreNode.
double configurationTerm(double outcome0, double outcome1) {
  const double lnAlpha = gammaln(1.0);
  double nj = 0.0;
  double alphaj = 0.0;
  double sj = 0.0;
  nj += outcome0;
  alphaj += 1.0;
  sj += gammaln(1.0 + outcome0) - lnAlpha;
  nj += outcome1;
  alphaj += 1.0;
  sj += gammaln(1.0 + outcome1) - lnAlpha;
  return sj + gammaln(alphaj) - gammaln(alphaj + nj);
}

TORVA_POPCOUNT_KERNEL long commonOnes(const std::uint64_t *a, const std::uint64_t *b, int words) {
  long sum = 0;
  for (int w = 0; w < words; ++w)
    sum += popcount(a[w] & b[w]);
  return sum;
}

bool bitOf(const std::uint64_t *bits, long c) { return (bits[c / 64] >> (c % 64)) & 1U; }

// Ids of `candidates` whose pattern has more than `normBound` ones, one id per distinct pattern.
std::vector<int> distinctPatternIds(const PackedStudy &study, const std::vector<int> &candidates,
                                    int normBound) {
  const int words = study.words();
  std::vector<int> ids;
  for (const int id : candidates) {
    const std::uint64_t *bits = study.node(id - 1);
    long ones = 0;
    for (int w = 0; w < words; ++w)
      ones += popcount(bits[w]);
    if (ones > normBound)
      ids.push_back(id);
  }
  const auto less = [&](int a, int b) {
    const std::uint64_t *x = study.node(a - 1);
    const std::uint64_t *y = study.node(b - 1);
    for (int w = 0; w < words; ++w)
      if (x[w] != y[w])
        return x[w] < y[w];
    return a < b;
  };
  const auto same = [&](int a, int b) {
    return std::memcmp(study.node(a - 1), study.node(b - 1), sizeof(std::uint64_t) * words) == 0;
  };
  std::sort(ids.begin(), ids.end(), less);
  ids.erase(std::unique(ids.begin(), ids.end(), same), ids.end());
  return ids;
}

} // namespace

PermutationScan::PermutationScan(const PackedStudy &subjects, long voxels,
                                 const std::vector<int> &earlierIds,
                                 const std::vector<int> &candidates, double share)
    : study(subjects), earlier(earlierIds), caseCount(subjects.cases()),
      wordCount(subjects.words()), stride(caseCount + 1), outcome(subjects.node(voxels)),
      normBound(static_cast<int>(normTestBound(caseCount, share))) {
  // Only the joint states that some subject has are kept, in ascending order: an empty
  // configuration adds exactly 0 to a score, so leaving it out keeps every sum's bits, and a
  // study of n subjects has at most n strata however many regions came before.
  std::vector<long> joint(static_cast<std::size_t>(caseCount), 0);
  for (long c = 0; c < caseCount; ++c)
    for (std::size_t t = 0; t < earlier.size(); ++t)
      if (bitOf(study.node(earlier[t] - 1), c))
        joint[c] |= 1L << t;
  std::vector<long> states(joint);
  std::sort(states.begin(), states.end());
  states.erase(std::unique(states.begin(), states.end()), states.end());
  strataCount = std::max(1, static_cast<int>(states.size()));
  stratumOf.assign(static_cast<std::size_t>(caseCount), 0);
  strataMasks.assign(static_cast<std::size_t>(strataCount) * wordCount, 0);
  strataSizes.assign(static_cast<std::size_t>(strataCount), 0);
  strataOutcomeOnes.assign(static_cast<std::size_t>(strataCount), 0);
  for (long c = 0; c < caseCount; ++c) {
    const int b =
        static_cast<int>(std::lower_bound(states.begin(), states.end(), joint[c]) - states.begin());
    stratumOf[c] = b;
    strataMasks[static_cast<std::size_t>(b) * wordCount + c / 64] |= std::uint64_t{1} << (c % 64);
    ++strataSizes[b];
    strataOutcomeOnes[b] += bitOf(outcome, c) ? 1 : 0;
  }
  std::vector<double> counts(static_cast<std::size_t>(2) * strataCount);
  for (int b = 0; b < strataCount; ++b) {
    counts[b] = static_cast<double>(strataSizes[b] - strataOutcomeOnes[b]);
    counts[b + strataCount] = static_cast<double>(strataOutcomeOnes[b]);
  }
  baselineScore = k2FamilyScore(counts.data(), 2 * strataCount, 2, 1);

  terms.resize(static_cast<std::size_t>(stride * stride));
  for (long n0 = 0; n0 < stride; ++n0)
    for (long n1 = 0; n0 + n1 < stride; ++n1)
      terms[n0 * stride + n1] = configurationTerm(static_cast<double>(n0), static_cast<double>(n1));

  for (const int id : distinctPatternIds(study, candidates, normBound)) {
    const std::uint64_t *bits = study.node(id - 1);
    patternBits.insert(patternBits.end(), bits, bits + wordCount);
    for (int b = 0; b < strataCount; ++b)
      patternOnes.push_back(
          commonOnes(bits, &strataMasks[static_cast<std::size_t>(b) * wordCount], wordCount));
  }

  if (strataCount == 1) {
    acceptedGains.assign(static_cast<std::size_t>(stride * stride), 0.0);
    for (long m = normBound + 1; m <= caseCount; ++m)
      for (long a = 0; a <= std::min(m, strataOutcomeOnes[0]); ++a) {
        if (m - a > caseCount - strataOutcomeOnes[0] || (round() == 1 && 2 * a < m))
          continue; // impossible counts, or the shape test fails
        const double g = gainOfCounts(&m, &a);
        acceptedGains[m * stride + a] = g > 0 ? g : 0.0;
      }
  }
}

double PermutationScan::gainOfCounts(const long *ones, const long *common) const {
  double score = 0.0;
  for (int b = 0; b < strataCount; ++b) // the candidate in state 0
    score += term(strataSizes[b] - ones[b] - (strataOutcomeOnes[b] - common[b]),
                  strataOutcomeOnes[b] - common[b]);
  for (int b = 0; b < strataCount; ++b) // the candidate in state 1
    score += term(ones[b] - common[b], common[b]);
  return score - baselineScore;
}

double PermutationScan::gain(int id) const {
  const std::uint64_t *bits = study.node(id - 1);
  std::vector<long> ones(static_cast<std::size_t>(strataCount));
  std::vector<long> common(static_cast<std::size_t>(strataCount));
  std::vector<std::uint64_t> masked(static_cast<std::size_t>(wordCount));
  for (int b = 0; b < strataCount; ++b) {
    const std::uint64_t *mask = &strataMasks[static_cast<std::size_t>(b) * wordCount];
    for (int w = 0; w < wordCount; ++w)
      masked[w] = mask[w] & outcome[w];
    ones[b] = commonOnes(bits, mask, wordCount);
    common[b] = commonOnes(bits, masked.data(), wordCount);
  }
  return gainOfCounts(ones.data(), common.data());
}

bool PermutationScan::accepted(int id) const {
  const std::uint64_t *bits = study.node(id - 1);
  const long m = commonOnes(bits, bits, wordCount);
  if (!(gain(id) > 0) || !(m > normBound))
    return false;
  return round() > 1 || 2 * commonOnes(bits, outcome, wordCount) >= m;
}

void PermutationScan::maximumGains(const std::uint64_t *outcomes, int count, double *nulls) const {
  std::fill(nulls, nulls + count, 0.0); // the search's best gain starts at 0
  // The subjects' words known at compile time for the usual study sizes (up to 256 subjects).
  switch (wordCount) {
  case 1:
    return strataCount == 1 ? maximumGainsOneStratum<1>(outcomes, count, nulls)
                            : maximumGainsStrata<1>(outcomes, count, nulls);
  case 2:
    return strataCount == 1 ? maximumGainsOneStratum<2>(outcomes, count, nulls)
                            : maximumGainsStrata<2>(outcomes, count, nulls);
  case 3:
    return strataCount == 1 ? maximumGainsOneStratum<3>(outcomes, count, nulls)
                            : maximumGainsStrata<3>(outcomes, count, nulls);
  case 4:
    return strataCount == 1 ? maximumGainsOneStratum<4>(outcomes, count, nulls)
                            : maximumGainsStrata<4>(outcomes, count, nulls);
  default:
    return strataCount == 1 ? maximumGainsOneStratum<0>(outcomes, count, nulls)
                            : maximumGainsStrata<0>(outcomes, count, nulls);
  }
}

// One stratum (round 1, or earlier representatives that no subject tells apart): the gain and
// the tests depend only on m and a, so one table look-up per pattern and outcome.
template <int W>
TORVA_POPCOUNT_KERNEL void PermutationScan::maximumGainsOneStratum(const std::uint64_t *outcomes,
                                                                   int count, double *nulls) const {
  const int words = W > 0 ? W : wordCount;
  const long patternCount = patterns();
  for (long p = 0; p < patternCount; ++p) {
    const std::uint64_t *bits = &patternBits[static_cast<std::size_t>(p) * words];
    const double *row = &acceptedGains[static_cast<std::size_t>(patternOnes[p] * stride)];
    for (int i = 0; i < count; ++i) {
      const std::uint64_t *y = outcomes + static_cast<std::size_t>(i) * words;
      long a = 0;
      for (int w = 0; w < words; ++w)
        a += popcount(bits[w] & y[w]);
      nulls[i] = std::max(nulls[i], row[a]);
    }
  }
}

template <int W>
TORVA_POPCOUNT_KERNEL void PermutationScan::maximumGainsStrata(const std::uint64_t *outcomes,
                                                               int count, double *nulls) const {
  const int words = W > 0 ? W : wordCount;
  // Per outcome and stratum, the outcome bits of the stratum's subjects.
  const std::size_t perOutcome = static_cast<std::size_t>(strataCount) * words;
  std::vector<std::uint64_t> masked(perOutcome * count);
  for (int i = 0; i < count; ++i)
    for (int b = 0; b < strataCount; ++b)
      for (int w = 0; w < words; ++w)
        masked[i * perOutcome + b * words + w] =
            outcomes[static_cast<std::size_t>(i) * words + w] &
            strataMasks[static_cast<std::size_t>(b) * words + w];
  std::vector<long> common(static_cast<std::size_t>(strataCount));
  const long patternCount = patterns();
  for (long p = 0; p < patternCount; ++p) {
    const std::uint64_t *bits = &patternBits[static_cast<std::size_t>(p) * words];
    const long *ones = &patternOnes[static_cast<std::size_t>(p) * strataCount];
    for (int i = 0; i < count; ++i) {
      const std::uint64_t *y = &masked[i * perOutcome];
      for (int b = 0; b < strataCount; ++b) {
        long a = 0;
        if (ones[b] != 0)
          for (int w = 0; w < words; ++w)
            a += popcount(bits[w] & y[b * words + w]);
        common[b] = a;
      }
      nulls[i] = std::max(nulls[i], gainOfCounts(ones, common.data()));
    }
  }
}
