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
  // 0.95 N not whole: rounded up, the 10th of 10 and the 29th of 30.
  EXPECT_DOUBLE_EQ(summariseNulls({9, 2, 3, 4, 5, 6, 7, 8, 1, 10}).upper95, 10.0);
  std::vector<double> thirty;
  for (int i = 1; i <= 30; ++i)
    thirty.push_back(i);
  EXPECT_DOUBLE_EQ(summariseNulls(thirty).upper95, 29.0);

  RegionPermutation row;
  row.region = 2;
  row.repId = 17;
  row.gain = 1.5;
  row.pFwe = 1.0 / 3.0;
  row.nulls = {0.25, 1.0};
  row.permutations = 5;
  row.pFweVolume = 0.5;
  EXPECT_EQ(permutationTableText({row}),
            "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\tp_fwe_volume\n"
            "2\t17\t1.500000\t0.333333\t0.250000\t1.000000\t5\t0.500000\n");
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

// Every relabelling of `y` that keeps the number of outcome-1 subjects of every stratum, as
// strings; with one stratum, every relabelling with the observed count. For n up to about 16.
std::vector<std::string> relabellingsWithinStrata(const std::string &y,
                                                  const std::vector<int> &strata) {
  const int strataCount = *std::max_element(strata.begin(), strata.end()) + 1;
  const auto onesPerStratum = [&](const std::string &text) {
    std::vector<int> ones(static_cast<std::size_t>(strataCount), 0);
    for (std::size_t c = 0; c < text.size(); ++c)
      ones[strata[c]] += text[c] == '1' ? 1 : 0;
    return ones;
  };
  const std::vector<int> observed = onesPerStratum(y);
  std::vector<std::string> all;
  for (unsigned mask = 0; mask < (1u << y.size()); ++mask) {
    std::string text(y.size(), '0');
    for (std::size_t c = 0; c < y.size(); ++c)
      if ((mask >> c) & 1u)
        text[c] = '1';
    if (onesPerStratum(text) == observed)
      all.push_back(text);
  }
  return all;
}

// Region 2 whose every within-stratum shuffle leaves its gain as observed. R_1 (voxel 1) holds
// subjects 1-6, all with outcome 1; of subjects 7-10 only subject 7 has outcome 1. Voxels 2-5
// each hold subjects 1 and 2 and one of 7-10. Given R_1 the voxel that holds the stratum's one
// outcome-1 subject gains ln(7/6) (configurations 1/4, 1/5, 1/2, 1/3 against 1/20, 1/7), the
// others lose. Whichever subject of 7-10 a shuffle within the strata gives outcome 1, some
// voxel holds it: every null is ln(7/6) and p = 1. Shuffles across the strata move outcomes
// between R_1's subjects and the rest: 36 of the 120 relabellings leave no voxel that gains as
// much, so a test that ignored the strata would give p near 0.7.
TEST(PermutationTest, RegionExplainedWithinTheStrataOfTheEarlierOnesGivesPOne) {
  const TinyStudy s{{"1111110000", "1100001000", "1100000100", "1100000010", "1100000001"},
                    "1111111000"};
  PackedStudy packed;
  s.pack(packed);
  const PermutationStudy study{packed, 5, evidencetest::allIds(5), {1, 2, 0, 0, 0}, {1, 2}};
  const double observed = evidencetest::plainGain(s, {1}, 1, s.outcome);
  ASSERT_NEAR(observed, std::log(7.0 / 6.0), 1e-12);

  // The study tells the two apart: the plain nulls of every relabelling across the strata.
  const std::vector<int> oneStratum(10, 0);
  std::vector<double> acrossStrata;
  for (const std::string &y : relabellingsWithinStrata(s.outcome, oneStratum))
    acrossStrata.push_back(evidencetest::plainNull(s, {1}, {2, 3, 4, 5}, y));
  ASSERT_EQ(acrossStrata.size(), 120u); // C(10, 7)
  ASSERT_LT(evidencetest::plainP(acrossStrata, observed), 0.8);

  PermutationResult result;
  runPermutationTest(study, 500, 4, 2, result, nullptr);
  ASSERT_EQ(result.regions.size(), 2u);
  EXPECT_EQ(result.regions[1].gain, observed);
  EXPECT_EQ(result.regions[1].pFwe, 1.0);
  EXPECT_DOUBLE_EQ(result.regions[1].nulls.mean, observed);
  EXPECT_EQ(result.regions[1].nulls.upper95, observed);
}

// Round 2 of a tiny study against the exact conditional distribution: every relabelling
// within the strata of R_1 is equally likely under the shuffle, so the exact p-value and null
// mean count them all with the plain route over the plain candidate rule (region 2's own voxels
// among them). 20000 permutations must estimate both within their sampling error.
TEST(PermutationTest, RoundTwoEstimatesTheExactConditionalDistribution) {
  std::mt19937 random(34);
  const TinyStudy s = evidencetest::randomStudy(random, 12, 9, 0.45, 5);
  PackedStudy packed;
  s.pack(packed);
  // Region 1: voxels 1, 3 (R_1 = 1); region 2: voxels 2, 4 (R_2 = 2).
  const std::vector<int> labels{1, 2, 1, 2, 0, 0, 0, 0, 0};
  const PermutationStudy study{packed, 9, evidencetest::allIds(9), labels, {1, 2}};
  const std::vector<int> candidates =
      evidencetest::plainCandidates(study.screened, labels, study.representatives, 2);
  ASSERT_EQ(candidates, (std::vector<int>{2, 4, 5, 6, 7, 8, 9}));
  const std::vector<std::string> relabellings =
      relabellingsWithinStrata(s.outcome, evidencetest::plainStrata(s, {1}));
  const double observed = evidencetest::plainGain(s, {1}, 1, s.outcome);
  std::vector<double> exact;
  std::vector<double> withoutRegionTwo;
  for (const std::string &y : relabellings) {
    exact.push_back(evidencetest::plainNull(s, {1}, candidates, y));
    withoutRegionTwo.push_back(evidencetest::plainNull(s, {1}, {5, 6, 7, 8, 9}, y));
  }
  const double count = static_cast<double>(exact.size());
  double exactP = 0;
  double exactMean = 0;
  double exactSquares = 0;
  double meanWithout = 0;
  for (std::size_t i = 0; i < exact.size(); ++i) {
    exactP += exact[i] >= observed ? 1.0 / count : 0.0;
    exactMean += exact[i] / count;
    exactSquares += exact[i] * exact[i] / count;
    meanWithout += withoutRegionTwo[i] / count;
  }
  const long N = 20000;
  const double meanSd = std::sqrt((exactSquares - exactMean * exactMean) / N);
  const double pSd = std::sqrt(exactP * (1 - exactP) / N);
  // A case with something to estimate, where region 2's voxels matter to the nulls.
  ASSERT_GT(relabellings.size(), 100u);
  ASSERT_GT(exactP, 0.05);
  ASSERT_LT(exactP, 0.9);
  ASSERT_GT(std::fabs(exactMean - meanWithout), 20 * meanSd);

  PermutationResult result;
  runPermutationTest(study, N, 5, 2, result, nullptr);
  ASSERT_EQ(result.regions.size(), 2u);
  EXPECT_EQ(result.regions[1].gain, observed);
  EXPECT_NEAR(result.regions[1].pFwe, exactP, 4.5 * pSd + 1.0 / N);
  EXPECT_NEAR(result.regions[1].nulls.mean, exactMean, 4.5 * meanSd);
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

// Round r's candidates against the plain rule for every round, with a representative outside
// its region's labels: round r drops regions 1 .. r-1 and their representatives, and keeps
// region r's own voxels.
TEST(PermutationTest, RoundCandidatesKeepTheVoxelsOfTheRoundsRegion) {
  const TinyStudy s = TinyStudy{std::vector<std::string>(20, "0110"), "0101"};
  PackedStudy packed;
  s.pack(packed);
  std::vector<int> screened = evidencetest::allIds(20);
  screened.erase(std::find(screened.begin(), screened.end(), 17));
  screened.erase(std::find(screened.begin(), screened.end(), 5));
  // Region 1: 1, 2, 3; region 2: 4, 5 (not screened), 6, 7; region 3: 8, 9. R_3 = 12 is
  // labelled 0.
  const std::vector<int> labels{1, 1, 1, 2, 2, 2, 2, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const PermutationStudy study{packed, 20, screened, labels, {2, 6, 12}};
  for (int round = 1; round <= 4; ++round)
    EXPECT_EQ(roundCandidates(study, round),
              evidencetest::plainCandidates(screened, labels, study.representatives, round))
        << "round " << round;
  const std::vector<int> round2 = roundCandidates(study, 2);
  EXPECT_EQ(std::vector<int>(round2.begin(), round2.begin() + 3), (std::vector<int>{4, 6, 7}));
  const std::vector<int> round3 = roundCandidates(study, 3);
  EXPECT_EQ(std::vector<int>(round3.begin(), round3.begin() + 3), (std::vector<int>{8, 9, 10}));
  EXPECT_EQ(std::count(round3.begin(), round3.end(), 12), 1);
  EXPECT_EQ(roundCandidates(study, 4).front(), 10);
  EXPECT_EQ(std::count(round2.begin(), round2.end(), 17), 0);
}

// The table of a three-region study, on three threads, against the plain route of every
// region with the draws the seed promises: each gain, p-value, null mean (summed in
// permutation order) and nearest-rank 95th percentile, bit for bit. N = 130 ends in a part
// block.
TEST(PermutationTest, TableIsThePlainTestOfThePromisedDraws) {
  std::mt19937 random(41);
  const TinyStudy s = evidencetest::randomStudy(random, 70, 40, 0.35, 30);
  PackedStudy packed;
  s.pack(packed);
  std::vector<int> labels(40, 0);
  for (const int id : {9, 10, 11})
    labels[id - 1] = 1;
  for (const int id : {19, 20, 21, 22})
    labels[id - 1] = 2;
  labels[30 - 1] = 3;
  const PermutationStudy study{packed, 40, evidencetest::allIds(40), labels, {10, 20, 30}};
  const long N = 130;
  PermutationResult result;
  runPermutationTest(study, N, 2024, 3, result, nullptr);
  const std::vector<evidencetest::PlainRegion> plain =
      evidencetest::plainPermutationTest(s, study.screened, labels, study.representatives, N, 2024);
  ASSERT_EQ(result.regions.size(), 3u);
  for (int r = 0; r < 3; ++r) {
    const RegionPermutation &row = result.regions[r];
    EXPECT_EQ(row.region, r + 1);
    EXPECT_EQ(row.repId, study.representatives[r]);
    EXPECT_EQ(row.permutations, N);
    EXPECT_EQ(row.gain, plain[r].gain) << "region " << r + 1;
    EXPECT_EQ(row.pFwe, plain[r].p) << "region " << r + 1;
    EXPECT_EQ(row.nulls.mean, plain[r].mean) << "region " << r + 1;
    EXPECT_EQ(row.nulls.upper95, plain[r].upper95) << "region " << r + 1;
  }
  // Later regions were tested on their own draws, not region 1's.
  EXPECT_NE(plain[0].nulls, plain[1].nulls);
}

// The maps against the plain route: every screened voxel's round-1 gain, and 1 - p_fwe against
// round 1's promised nulls exactly where the plain rule accepts the voxel; voxels outside the
// screening stay 0 in both. n = 50, so a fifth is 10: voxel 5 holds ten of the outcome-1
// subjects (a positive gain at the norm bound), voxel 6 eleven of them, voxel 7 one.
TEST(PermutationTest, MapsHoldRoundOneGainsAndCorrectedP) {
  std::mt19937 random(23);
  TinyStudy s = evidencetest::randomStudy(random, 50, 30, 0.4, 20);
  s.voxels[2] = s.outcome;
  for (const std::size_t v : {4, 5, 6}) {
    const long keep = v == 4 ? 10 : v == 5 ? 11 : 1;
    std::string pattern(50, '0');
    for (long c = 0, kept = 0; c < 50 && kept < keep; ++c)
      if (s.outcome[c] == '1') {
        pattern[c] = '1';
        ++kept;
      }
    s.voxels[v] = pattern;
  }
  PackedStudy packed;
  s.pack(packed);
  std::vector<int> screened = evidencetest::allIds(30);
  screened.erase(screened.begin() + 7); // voxel 8 screened out
  const PermutationStudy study{packed, 30, screened, std::vector<int>(30, 0), {3}};
  PermutationResult result;
  runPermutationTest(study, 400, 12, 2, result, nullptr);
  const std::vector<double> nulls =
      evidencetest::plainPermutationTest(s, screened, study.labels, {3}, 400, 12)[0].nulls;
  int accepted = 0;
  for (int id = 1; id <= 30; ++id) {
    if (id == 8) {
      EXPECT_EQ(result.gainMap[id - 1], 0.0f);
      EXPECT_EQ(result.corrpMap[id - 1], 0.0f);
      continue;
    }
    const double gain = evidencetest::plainGain(s, {}, id - 1, s.outcome);
    const bool plain = evidencetest::plainAccepted(s, 1, id - 1, s.outcome, gain);
    EXPECT_EQ(result.gainMap[id - 1], static_cast<float>(gain)) << id;
    const float corrp = plain ? static_cast<float>(1.0 - evidencetest::plainP(nulls, gain)) : 0.0f;
    EXPECT_EQ(result.corrpMap[id - 1], corrp) << id;
    EXPECT_GE(result.corrpMap[id - 1], 0.0f) << id;
    EXPECT_LT(result.corrpMap[id - 1], 1.0f) << id;
    accepted += plain ? 1 : 0;
  }
  EXPECT_GT(accepted, 2);
  // Gains above 0 at the norm bound and below it, and accepted just above it.
  EXPECT_GT(result.gainMap[4], 0.0f);
  EXPECT_EQ(result.corrpMap[4], 0.0f);
  EXPECT_GT(result.gainMap[6], 0.0f);
  EXPECT_EQ(result.corrpMap[6], 0.0f);
  EXPECT_GT(result.corrpMap[5], 0.0f);
  // The outcome itself as a voxel: beyond every null statistic.
  EXPECT_FLOAT_EQ(result.corrpMap[2], static_cast<float>(1.0 - 1.0 / 401.0));
  EXPECT_EQ(result.regions[0].pFwe, 1.0 / 401.0);
  // Without a region round 1 is still tested, on the same draws, for the maps.
  const PermutationStudy none{packed, 30, screened, study.labels, {}};
  PermutationResult maps;
  runPermutationTest(none, 400, 12, 1, maps, nullptr);
  EXPECT_TRUE(maps.regions.empty());
  EXPECT_EQ(maps.gainMap, result.gainMap);
  EXPECT_EQ(maps.corrpMap, result.corrpMap);
}

} // namespace
