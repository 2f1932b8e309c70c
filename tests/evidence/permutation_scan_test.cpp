// The permutation scan against a plain route: counts walked subject by subject, the network's
// own family score, and the search's tests written out as the search states them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bn/bn.h"
#include "evidence/evidence_fixtures.h"
#include "evidence/permutation_scan.h"

namespace {

using evidencetest::TinyStudy;

// K2 gain of voxel v (0-based) given the earlier voxels, outcome `y`, from counts taken one
// subject at a time in the network's layout: configuration b + Q * state(v), outcome fastest
// across configurations.
double plainGain(const TinyStudy &s, const std::vector<int> &earlier, long v,
                 const std::string &y) {
  const int Q = 1 << earlier.size();
  std::vector<double> before(2 * Q, 0.0);
  std::vector<double> after(4 * Q, 0.0);
  for (long c = 0; c < s.cases(); ++c) {
    int b = 0;
    for (std::size_t t = 0; t < earlier.size(); ++t)
      b |= (s.voxels[earlier[t] - 1][c] - '0') << t;
    const int k = y[c] - '0';
    const int j = b + Q * (s.voxels[v][c] - '0');
    before[b + k * Q] += 1;
    after[j + k * 2 * Q] += 1;
  }
  return k2FamilyScore(after.data(), 4 * Q, 2, 1) - k2FamilyScore(before.data(), 2 * Q, 2, 1);
}

// The search's acceptance of voxel v with outcome y (norm test; round 1 also the shape test).
bool plainAccepted(const TinyStudy &s, int round, long v, const std::string &y, double gain) {
  const long n = s.cases();
  long norm = 0;
  long yNorm = 0;
  long differ = 0;
  for (long c = 0; c < n; ++c) {
    norm += s.voxels[v][c] - '0';
    yNorm += y[c] - '0';
    differ += s.voxels[v][c] != y[c] ? 1 : 0;
  }
  if (!(gain > 0) || !(norm > static_cast<long>(n * 0.2)))
    return false;
  return round > 1 || !(differ > yNorm);
}

double plainNull(const TinyStudy &s, const std::vector<int> &earlier,
                 const std::vector<int> &candidates, const std::string &y) {
  double best = 0.0;
  for (const int id : candidates) {
    const double g = plainGain(s, earlier, id - 1, y);
    if (plainAccepted(s, static_cast<int>(earlier.size()) + 1, id - 1, y, g))
      best = std::max(best, g);
  }
  return best;
}

std::string bitsToText(const std::uint64_t *bits, long cases) {
  std::string text;
  for (long c = 0; c < cases; ++c)
    text += ((bits[c / 64] >> (c % 64)) & 1U) ? '1' : '0';
  return text;
}

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
      const int words = scan.words();
      const int count = 9;
      std::vector<std::uint64_t> outcomes(static_cast<std::size_t>(count) * words);
      std::vector<std::string> texts;
      for (int i = 0; i < count; ++i) {
        std::string y = s.outcome;
        // Shuffle within strata: positions of each stratum among themselves.
        for (int b = 0; b < scan.strata(); ++b) {
          std::vector<long> members;
          for (long c = 0; c < cases; ++c)
            if (scan.stratumOfSubjects()[c] == b)
              members.push_back(c);
          std::string values;
          for (const long c : members)
            values += y[c];
          std::shuffle(values.begin(), values.end(), random);
          for (std::size_t k = 0; k < members.size(); ++k)
            y[members[k]] = values[k];
        }
        textToBits(y, &outcomes[static_cast<std::size_t>(i) * words], words);
        EXPECT_EQ(bitsToText(&outcomes[static_cast<std::size_t>(i) * words], cases), y);
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
