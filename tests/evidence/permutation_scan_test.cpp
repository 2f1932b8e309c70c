// The permutation scan against the plain routes of evidence_fixtures.h: counts walked subject by
// subject, the network's own family score, and the search's tests as the search states them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bn/bn.h"
#include "evidence/evidence_fixtures.h"
#include "evidence/permutation_scan.h"

namespace {

using evidencetest::plainAccepted;
using evidencetest::plainGain;
using evidencetest::plainNull;
using evidencetest::TinyStudy;

void textToBits(const std::string &text, std::uint64_t *bits, int words) {
  std::fill(bits, bits + words, 0);
  for (std::size_t c = 0; c < text.size(); ++c)
    if (text[c] == '1')
      bits[c / 64] |= std::uint64_t{1} << (c % 64);
}

// Worked round 1 (n = 4, outcome 0011, voxel 0011): baseline ln(1/30), trial 2 ln(1/3), gain
// ln(30/9) = 1.20397; accepted (norm 2 > 0, no difference from the outcome).
TEST(PermutationScan, WorkedRoundOneGain) {
  TinyStudy s{{"0011", "0101"}, "0011"};
  PackedStudy packed;
  s.pack(packed);
  const PermutationScan scan(packed, 2, {}, {1, 2});
  EXPECT_NEAR(scan.baseline(), std::log(1.0 / 30.0), 1e-9);
  EXPECT_NEAR(scan.gain(1), std::log(30.0 / 9.0), 1e-9);
  EXPECT_TRUE(scan.accepted(1));
  EXPECT_FALSE(scan.accepted(2)); // gain below 0: independent of the outcome
  EXPECT_LT(scan.gain(2), 0.0);
}

// Acceptance at its bounds, n = 10 (a fifth is 2), outcome 1 for subjects 1 and 2 (baseline
// 2! 8! / 11! = 1/495). Per voxel, m subjects in state 1, a of them with outcome 1, and the
// product of its two configurations' terms n0! n1! / (n0 + n1 + 1)!:
//   m = 1, a = 1: 1/2 * 1/90 = 1/180, gain ln 2.75 > 0, but 1 subject is not more than 2
//   m = 2, a = 2: 1/3 * 1/9 = 1/27, gain ln(55/3), at the norm bound: refused
//   m = 3, a = 2: 1/12 * 1/8 = 1/96, just above the norm bound: accepted
//   m = 4, a = 2: 1/30 * 1/7 = 1/210, 2 differ from the outcome, 2 have it: accepted
//   m = 5, a = 2: 1/60 * 1/6 = 1/360, gain ln 1.375 > 0, but 3 differ: refused in round 1
TEST(PermutationScan, AcceptanceAtAndJustBeyondTheNormAndShapeBounds) {
  const TinyStudy s{{"1000000000", "1100000000", "1110000000", "1111000000", "1111100000"},
                    "1100000000"};
  PackedStudy packed;
  s.pack(packed);
  const PermutationScan scan(packed, 5, {}, evidencetest::allIds(5));
  const double products[] = {180, 27, 96, 210, 360};
  const bool accepted[] = {false, false, true, true, false};
  for (int id = 1; id <= 5; ++id) {
    EXPECT_NEAR(scan.gain(id), std::log(495.0 / products[id - 1]), 1e-9) << id;
    EXPECT_EQ(scan.accepted(id), accepted[id - 1]) << id;
  }
  // Only voxels 3 and 4 may be the maximum: with the observed outcome voxel 3's gain.
  std::uint64_t y = 0;
  textToBits(s.outcome, &y, 1);
  double null = 0;
  scan.maximumGains(&y, 1, &null);
  EXPECT_NEAR(null, std::log(495.0 / 96.0), 1e-9);
}

// The same on random studies of sizes with and without a whole fifth, rounds 1 and 2: every
// voxel accepted exactly when the plain rule accepts it, with voxels at the norm bound whose
// gain and shape would pass, and voxels just above it, among them.
TEST(PermutationScan, AcceptanceIsThePlainRuleOnRandomStudies) {
  std::mt19937 random(31);
  int atBound = 0;
  int aboveBound = 0;
  for (const long cases : {10L, 12L, 23L, 35L, 70L}) {
    for (int trial = 0; trial < 8; ++trial) {
      const TinyStudy s = evidencetest::randomStudy(random, cases, 30, 0.22, cases / 3);
      PackedStudy packed;
      s.pack(packed);
      for (const int round : {1, 2}) {
        const std::vector<int> earlier = round == 1 ? std::vector<int>{} : std::vector<int>{30};
        const PermutationScan scan(packed, 30, earlier, evidencetest::allIds(29));
        for (long v = 0; v < 29; ++v) {
          const double gain = plainGain(s, earlier, v, s.outcome);
          const bool plain = plainAccepted(s, round, v, s.outcome, gain);
          ASSERT_EQ(scan.accepted(static_cast<int>(v + 1)), plain)
              << cases << " subjects, trial " << trial << ", round " << round << ", voxel "
              << v + 1;
          const long norm = evidencetest::plainNorm(s, v);
          atBound += norm == cases / 5 && round == 2 && gain > 0 ? 1 : 0;
          aboveBound += norm == cases / 5 + 1 && plain ? 1 : 0;
        }
      }
    }
  }
  EXPECT_GT(atBound, 5);
  EXPECT_GT(aboveBound, 5);
}

// The scan's gains carry the bits of the network's score, in every round and every stratum
// layout (empty strata left out), so an observed gain and a null statistic of the same counts
// compare as equal.
TEST(PermutationScan, GainsHaveTheBitsOfTheNetworkScore) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 20; ++trial) {
    const long cases = 20 + trial * 7;
    const TinyStudy s = evidencetest::randomStudy(random, cases, 12, 0.4, cases / 3);
    PackedStudy packed;
    s.pack(packed);
    // Round 8: 128 joint states of seven voxels, most held by no subject.
    for (const int round : {1, 2, 3, 8}) {
      std::vector<int> earlier;
      for (int t = 1; t < round; ++t)
        earlier.push_back(t);
      const PermutationScan scan(packed, s.voxelCount(), earlier, evidencetest::allIds(12));
      for (long v = 0; v < s.voxelCount(); ++v)
        ASSERT_EQ(scan.gain(static_cast<int>(v + 1)), plainGain(s, earlier, v, s.outcome))
            << "trial " << trial << " round " << round << " voxel " << v + 1;
    }
  }
}

// Null statistics of random within-stratum shuffles (a few hundred subjects, several words)
// equal the plain maximum over every candidate, with equal patterns and voxels below the norm
// bound in the study.
TEST(PermutationScan, NullStatisticsMatchThePlainMaximum) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 6; ++trial) {
    const long cases = 30 + trial * 41;
    TinyStudy s = evidencetest::randomStudy(random, cases, 25, 0.35, cases / 2 - trial);
    s.voxels[3] = s.voxels[7];                                       // an equal pattern
    s.voxels[4] = std::string(static_cast<std::size_t>(cases), '0'); // fails the norm test
    s.voxels[5] = s.outcome;                                         // the best possible voxel
    PackedStudy packed;
    s.pack(packed);
    for (int round = 1; round <= 3; ++round) {
      std::vector<int> earlier;
      for (int t = 1; t < round; ++t)
        earlier.push_back(10 + t);
      std::vector<int> candidates;
      for (int id = 1; id <= 25; ++id)
        if (std::find(earlier.begin(), earlier.end(), id) == earlier.end() && id != 9)
          candidates.push_back(id);
      const PermutationScan scan(packed, s.voxelCount(), earlier, candidates);
      EXPECT_LE(scan.patterns(), static_cast<long>(candidates.size()) - 2);
      // The strata are the joint states of the earlier voxels, and the outcome is the study's.
      const std::vector<int> strata = evidencetest::plainStrata(s, earlier);
      ASSERT_EQ(scan.stratumOfSubjects(), strata) << "trial " << trial << " round " << round;
      ASSERT_EQ(scan.strata(), *std::max_element(strata.begin(), strata.end()) + 1);
      const int words = scan.words();
      std::vector<std::uint64_t> observed(static_cast<std::size_t>(words));
      textToBits(s.outcome, observed.data(), words);
      ASSERT_TRUE(std::equal(observed.begin(), observed.end(), scan.outcomeBits()));
      const int count = 9;
      std::vector<std::uint64_t> outcomes(static_cast<std::size_t>(count) * words);
      std::vector<std::string> texts;
      for (int i = 0; i < count; ++i) {
        std::string y = s.outcome;
        // Shuffle within strata: positions of each stratum among themselves.
        for (int b = 0; b < scan.strata(); ++b) {
          std::vector<long> members;
          for (long c = 0; c < cases; ++c)
            if (strata[c] == b)
              members.push_back(c);
          std::string values;
          for (const long c : members)
            values += y[c];
          std::shuffle(values.begin(), values.end(), random);
          for (std::size_t k = 0; k < members.size(); ++k)
            y[members[k]] = values[k];
        }
        textToBits(y, &outcomes[static_cast<std::size_t>(i) * words], words);
        texts.push_back(y);
      }
      std::vector<double> nulls(count);
      scan.maximumGains(outcomes.data(), count, nulls.data());
      for (int i = 0; i < count; ++i)
        ASSERT_EQ(nulls[i], plainNull(s, earlier, candidates, texts[i]))
            << "trial " << trial << " round " << round << " permutation " << i;
    }
  }
}

// The round-1 shape test, with the permuted outcome: a voxel in state 1 for more subjects
// outside the outcome than inside cannot be the maximum, however large its gain.
TEST(PermutationScan, ShapeTestRejectsTheComplementInRoundOne) {
  // 10 subjects, outcome 1 for 3. Voxel 1 is the complement of the outcome (gain large,
  // differs in all 10 > 3), voxel 2 is in state 1 for the three and for one more.
  TinyStudy s{{"1111111000", "0000000111"}, "0000000111"};
  s.voxels[1] = "0000001111";
  PackedStudy packed;
  s.pack(packed);
  const PermutationScan scan(packed, 2, {}, {1, 2});
  EXPECT_GT(scan.gain(1), scan.gain(2));
  EXPECT_FALSE(scan.accepted(1));
  EXPECT_TRUE(scan.accepted(2));
  std::uint64_t y = 0;
  textToBits(s.outcome, &y, 1);
  double null = 0;
  scan.maximumGains(&y, 1, &null);
  EXPECT_EQ(null, scan.gain(2));
  // Round 2 has no shape test: the complement's gain given voxel 2 counts.
  const PermutationScan round2(packed, 2, {2}, {1});
  round2.maximumGains(&y, 1, &null);
  EXPECT_EQ(null, std::max(0.0, round2.gain(1)));
}

} // namespace
