#pragma once
// The null distribution of one search round by permutation of the outcome.
//
// Round r, with earlier representatives R_1..R_{r-1}, groups the subjects into strata by their
// joint states b = sum_t state(R_t) * 2^(t-1). The outcome is shuffled within every stratum, so
// the stratum sizes n_b and outcome counts y_b stay as observed and the dependence of the outcome
// on the earlier regions is kept; only its dependence on a new voxel is broken. For a candidate v
// with m_b subjects of stratum b in state 1, of which a_b have outcome 1, the round's gain is
//   gain = K2(outcome | R_1..R_{r-1}, v) - K2(outcome | R_1..R_{r-1}),
//   K2 = sum_j [ ln G(2) - ln G(2 + N_j) + sum_k ln G(1 + N_jk) ]   (prior 1, natural log),
// with the configurations j of the new network in the search's order: the strata with v in
// state 0, then the strata with v in state 1. Only a_b changes under a permutation, one popcount
// of the voxel's bits against the stratum's permuted outcome bits. The null statistic is the
// largest gain among the candidates the search would accept: gain above 0, more than
// int(n * representativeShare) subjects in state 1 (n/5 rounded down by default), and in round 1 at
// most as many subjects differing from the outcome as have outcome 1 (2 a >= m). Voxels with equal
// patterns are evaluated once, and voxels that fail the norm test, which no permutation changes,
// not at all.
#include <cstdint>
#include <vector>

#include "data/packed_study.h"
#include "roi/roi_settings.h"

class PermutationScan {
public:
  // `subjects`: every subject of the study, voxels in storage order then the outcome (node
  // `voxels`). `earlier`: the ids (1-based) of R_1..R_{r-1}. `candidates`: the round's voxel ids.
  // `share`: the norm test's representativeShare.
  PermutationScan(const PackedStudy &subjects, long voxels, const std::vector<int> &earlier,
                  const std::vector<int> &candidates, double share = kDefaultRepresentativeShare);

  int round() const { return static_cast<int>(earlier.size()) + 1; }
  int strata() const { return strataCount; }
  int words() const { return wordCount; }
  long cases() const { return caseCount; }
  // K2 score of the outcome given the earlier representatives.
  double baseline() const { return baselineScore; }
  // Distinct patterns among the candidates that pass the norm test.
  long patterns() const { return static_cast<long>(patternOnes.size()) / strataCount; }
  // The study's own outcome, one bit per subject.
  const std::uint64_t *outcomeBits() const { return outcome; }
  // Stratum of every subject, in list order.
  const std::vector<int> &stratumOfSubjects() const { return stratumOf; }

  // Gain of voxel `id` with the study's own outcome.
  double gain(int id) const;
  // Whether the search would accept voxel `id` with the study's own outcome (see above).
  bool accepted(int id) const;

  // Null statistics of `count` outcomes, outcome i at outcomes + i * words() (one bit per
  // subject, each with the observed outcome counts of every stratum), into nulls[0 .. count).
  void maximumGains(const std::uint64_t *outcomes, int count, double *nulls) const;

private:
  double gainOfCounts(const long *ones, const long *common) const;
  double term(long outcome0, long outcome1) const { return terms[outcome0 * stride + outcome1]; }
  template <int W>
  void maximumGainsOneStratum(const std::uint64_t *outcomes, int count, double *nulls) const;
  template <int W>
  void maximumGainsStrata(const std::uint64_t *outcomes, int count, double *nulls) const;

  const PackedStudy &study;
  std::vector<int> earlier;
  long caseCount;
  int wordCount;
  int strataCount = 1; // joint states of the earlier representatives that some subject has
  long stride;         // n + 1
  const std::uint64_t *outcome;
  std::vector<int> stratumOf;
  std::vector<std::uint64_t> strataMasks; // stratum b at b * words
  std::vector<long> strataSizes;          // n_b
  std::vector<long> strataOutcomeOnes;    // y_b
  double baselineScore = 0;
  int normBound;
  // terms[n0 * stride + n1]: one configuration's K2 term with n0 cases of outcome 0 and n1 of
  // outcome 1, computed exactly as the network's score sums it.
  std::vector<double> terms;
  // One stratum: acceptedGains[m * stride + a] is the gain of a voxel with m subjects in state 1, a
  // of them with outcome 1, when the search would accept it, else 0.
  std::vector<double> acceptedGains;
  std::vector<std::uint64_t> patternBits; // pattern p at p * words
  std::vector<long> patternOnes;          // per pattern, m_b for every stratum b
};
