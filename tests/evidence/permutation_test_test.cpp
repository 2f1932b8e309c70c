// The permutation p-values as statistics: the exact p-value of a tiny study by enumerating every
// relabelling, the large-N estimate against it, the conditional test's strata, the calibration
// over many null studies, and results that do not depend on the thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "data/study_view.h"
#include "evidence/evidence_fixtures.h"
#include "evidence/permutation_scan.h"
#include "evidence/permutation_test.h"
#include "roi/candidate_scan.h"

namespace {

using evidencetest::TinyStudy;

// The voxel the analysis's own search picks in round 1 on all subjects (0: none).
int searchPick(const PackedStudy &packed, long voxels, int x) {
  std::vector<int> everyone;
  for (long c = 0; c < packed.cases(); ++c)
    everyone.push_back(static_cast<int>(c));
  const StudyView view(packed, everyone, x, static_cast<int>(voxels / x), 1);
  PackedEvaluator evaluator(view, {});
  const std::vector<int> V = evidencetest::allIds(voxels);
  const PermutationScan scan(packed, voxels, {}, V);
  std::vector<int> A;
  RoundBest best;
  std::ostringstream quiet;
  scanCandidates(evaluator, ScanRound{V, 1, packed.cases(), scan.baseline()}, A, best, quiet);
  return best.id > 0 ? best.id : 0;
}

TEST(PermutationDraws, DrawBelowIsUniformAndShufflesKeepTheStrata) {
  std::mt19937_64 generator(3);
  std::vector<long> counts(7, 0);
  const long draws = 70000;
  for (long i = 0; i < draws; ++i)
    ++counts[drawBelow(generator, 7)];
  for (const long c : counts) // binomial sd ~ 93
    EXPECT_NEAR(c, draws / 7, 450);
  EXPECT_EQ(drawBelow(generator, 1), 0u);

  // Strata {0, 2, 4} (one outcome 1) and {1, 3, 5} (two): every arrangement within each
  // stratum equally likely, the counts never crossing between them.
  const std::vector<int> strata{0, 1, 0, 1, 0, 1};
  const std::uint64_t outcome = 0b101001; // subjects 0, 3, 5
  StratifiedShuffle shuffle(strata, 2, &outcome, 1);
  std::map<std::uint64_t, long> seen;
  const long shuffles = 27000;
  for (long i = 0; i < shuffles; ++i) {
    std::uint64_t bits = 0;
    shuffle.next(generator, &bits);
    ASSERT_EQ(__builtin_popcountll(bits & 0b010101), 1);
    ASSERT_EQ(__builtin_popcountll(bits & 0b101010), 2);
    ++seen[bits];
  }
  EXPECT_EQ(seen.size(), 9u);    // 3 x 3 arrangements
  for (const auto &entry : seen) // each 1/9, sd ~ 52
    EXPECT_NEAR(entry.second, shuffles / 9, 260);
}

TEST(PermutationSummary, PValueMeanAndPercentile) {
  // (1 + the two nulls at or above 2) / (1 + 4).
  EXPECT_DOUBLE_EQ(familyWiseP({0.0, 1.0, 2.0, 3.0}, 2.0), 0.6);
  EXPECT_DOUBLE_EQ(familyWiseP({0.0, 1.0, 2.0, 3.0}, 3.5), 0.2);
  EXPECT_DOUBLE_EQ(familyWiseP({0.0, 1.0, 2.0, 3.0}, -1.0), 1.0);
  std::vector<double> nulls;
  for (int i = 20; i >= 1; --i)
    nulls.push_back(i);
  const NullSummary summary = summariseNulls(nulls);
  EXPECT_DOUBLE_EQ(summary.mean, 10.5);
  EXPECT_DOUBLE_EQ(summary.upper95, 19.0); // the 19th of 20
  EXPECT_DOUBLE_EQ(summariseNulls({4.0}).upper95, 4.0);

  RegionPermutation row;
  row.region = 2;
  row.repId = 17;
  row.gain = 1.5;
  row.pFwe = 1.0 / 3.0;
  row.nulls = {0.25, 1.0};
  row.permutations = 5;
  EXPECT_EQ(permutationTableText({row}),
            "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\n"
            "2\t17\t1.500000\t0.333333\t0.250000\t1.000000\t5\n");
}

// Tiny study: 9 subjects, 4 with outcome 1, so C(9,4) = 126 relabellings, each equally likely
// under a uniform shuffle. The exact p-value counts the relabellings whose null statistic
// reaches the observed gain; 40000 permutations must estimate it within binomial error.
TEST(PermutationTest, LargeSampleEstimateMatchesTheExactEnumeration) {
  TinyStudy s{{"111100000", "110110000", "011101000", "100011100", "111000011", "010101010"},
              "111010000"};
  PackedStudy packed;
  s.pack(packed);
  const PermutationStudy study{packed, 6, evidencetest::allIds(6), std::vector<int>(6, -1), {1}};
  const PermutationScan scan(packed, 6, {}, study.screened);
  const double observed = scan.gain(1);
  long reached = 0;
  long relabellings = 0;
  for (unsigned mask = 0; mask < 512; ++mask) {
    if (__builtin_popcount(mask) != 4)
      continue;
    const std::uint64_t y = mask;
    double null = 0;
    scan.maximumGains(&y, 1, &null);
    reached += null >= observed ? 1 : 0;
    ++relabellings;
  }
  ASSERT_EQ(relabellings, 126);
  const double exact = static_cast<double>(reached) / 126.0;
  ASSERT_GT(exact, 0.02); // a case where the estimate has something to match
  ASSERT_LT(exact, 0.9);

  const long N = 40000;
  PermutationResult result;
  runPermutationTest(study, N, 99, 2, result, nullptr);
  ASSERT_EQ(result.regions.size(), 1u);
  EXPECT_EQ(result.regions[0].gain, observed);
  const double sd = std::sqrt(exact * (1 - exact) / N);
  EXPECT_NEAR(result.regions[0].pFwe, exact, 4.5 * sd + 1.0 / N)
      << reached << " of 126 relabellings";
}

// Round 2 whose outcome is R_1 itself: every stratum of R_1 holds one outcome, so no shuffle
// changes anything and no voxel can add to R_1; the null statistic equals the observed one's
// best competitor every time and p = 1.
TEST(PermutationTest, OutcomeExplainedByTheEarlierRegionGivesPOne) {
  std::mt19937 random(8);
  TinyStudy s = evidencetest::randomStudy(random, 40, 15, 0.45, 16);
  s.voxels[0] = s.outcome; // R_1
  PackedStudy packed;
  s.pack(packed);
  const PermutationStudy study{
      packed, 15, evidencetest::allIds(15), std::vector<int>(15, -1), {1, 6}};
  PermutationResult result;
  runPermutationTest(study, 500, 4, 1, result, nullptr);
  ASSERT_EQ(result.regions.size(), 2u);
  EXPECT_LT(result.regions[0].pFwe, 0.01); // the outcome itself is found in round 1
  EXPECT_EQ(result.regions[1].pFwe, 1.0);
  EXPECT_EQ(result.regions[1].nulls.mean, 0.0);
}

// Many null studies (outcome independent of every voxel, region 1 the search's own pick): the
// share of p <= 0.05 must not exceed 5% beyond binomial slack, and p must not be stuck at 1.
TEST(PermutationTest, CalibratedOnNullStudies) {
  std::mt19937 random(2026);
  const int studies = 300;
  int tested = 0;
  int significant = 0;
  int belowHalf = 0;
  for (int k = 0; k < studies; ++k) {
    const TinyStudy s = evidencetest::randomStudy(random, 30, 24, 0.4, 12);
    PackedStudy packed;
    s.pack(packed);
    const int pick = searchPick(packed, 24, 6);
    if (pick == 0)
      continue;
    const PermutationStudy study{
        packed, 24, evidencetest::allIds(24), std::vector<int>(24, -1), {pick}};
    PermutationResult result;
    runPermutationTest(study, 199, static_cast<std::uint64_t>(k + 1), 1, result, nullptr);
    ++tested;
    significant += result.regions[0].pFwe <= 0.05 ? 1 : 0;
    belowHalf += result.regions[0].pFwe <= 0.5 ? 1 : 0;
  }
  ASSERT_GT(tested, 250);
  const double slack = 3 * std::sqrt(0.05 * 0.95 / tested);
  EXPECT_LE(static_cast<double>(significant) / tested, 0.05 + slack) << significant;
  EXPECT_GE(static_cast<double>(belowHalf) / tested, 0.35) << belowHalf;
}

// The same seed gives the same shuffles and null statistics on 1 and 3 threads, and another
// seed other ones.
TEST(PermutationTest, SameResultsOnAnyThreadCount) {
  std::mt19937 random(17);
  const TinyStudy s = evidencetest::randomStudy(random, 150, 60, 0.4, 70);
  PackedStudy packed;
  s.pack(packed);
  std::vector<int> labels(60, -1);
  labels[9] = 1;
  labels[10] = 1;
  const PermutationStudy study{packed, 60, evidencetest::allIds(60), labels, {10, 20, 30}};
  PermutationResult one;
  PermutationResult three;
  PermutationResult other;
  torva::ProgressLine completed("permutation", 3000, false, std::chrono::milliseconds(1000));
  runPermutationTest(study, 1000, 7, 1, one, nullptr);
  runPermutationTest(study, 1000, 7, 3, three, &completed);
  runPermutationTest(study, 1000, 8, 3, other, nullptr);
  EXPECT_EQ(completed.done(), 3000);
  EXPECT_EQ(permutationTableText(one.regions), permutationTableText(three.regions));
  EXPECT_EQ(one.gainMap, three.gainMap);
  EXPECT_EQ(one.corrpMap, three.corrpMap);
  EXPECT_NE(permutationTableText(one.regions), permutationTableText(other.regions));
  // Candidates of round 3: less region 1 (ids 10, 11) and the representatives 10 and 20.
  const std::vector<int> round3 = roundCandidates(study, 3);
  EXPECT_EQ(round3.size(), 57u);
  EXPECT_EQ(std::count(round3.begin(), round3.end(), 11), 0);
  EXPECT_EQ(std::count(round3.begin(), round3.end(), 20), 0);
  EXPECT_EQ(std::count(round3.begin(), round3.end(), 30), 1);
}

// The maps: every screened voxel's round-1 gain, and 1 - p_fwe against region 1's nulls where
// the search would accept the voxel; voxels outside the screening stay 0 in both.
TEST(PermutationTest, MapsHoldRoundOneGainsAndCorrectedP) {
  std::mt19937 random(23);
  TinyStudy s = evidencetest::randomStudy(random, 50, 30, 0.4, 20);
  s.voxels[2] = s.outcome;
  PackedStudy packed;
  s.pack(packed);
  std::vector<int> screened = evidencetest::allIds(30);
  screened.erase(screened.begin() + 7); // voxel 8 screened out
  const PermutationStudy study{packed, 30, screened, std::vector<int>(30, 0), {3}};
  PermutationResult result;
  runPermutationTest(study, 400, 12, 2, result, nullptr);
  const PermutationScan scan(packed, 30, {}, screened);
  std::vector<double> nulls;
  std::mt19937_64 generator(12);
  permutationNulls(scan, generator, 400, 1, nulls, nullptr);
  std::sort(nulls.begin(), nulls.end());
  int accepted = 0;
  for (int id = 1; id <= 30; ++id) {
    if (id == 8) {
      EXPECT_EQ(result.gainMap[id - 1], 0.0f);
      EXPECT_EQ(result.corrpMap[id - 1], 0.0f);
      continue;
    }
    EXPECT_EQ(result.gainMap[id - 1], static_cast<float>(scan.gain(id))) << id;
    const float corrp =
        scan.accepted(id) ? static_cast<float>(1.0 - familyWiseP(nulls, scan.gain(id))) : 0.0f;
    EXPECT_EQ(result.corrpMap[id - 1], corrp) << id;
    accepted += scan.accepted(id) ? 1 : 0;
  }
  EXPECT_GT(accepted, 0);
  // The outcome itself as a voxel: beyond every null statistic.
  EXPECT_FLOAT_EQ(result.corrpMap[2], static_cast<float>(1.0 - 1.0 / 401.0));
  EXPECT_EQ(result.regions[0].pFwe, 1.0 / 401.0);
}

} // namespace
