#include "roi/candidate_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "bn/bn.h"
#include "bn/dag.h"
#include "roi/study_builder.h"

namespace {

// What one scan of a round produced.
struct ScanResult {
  RoundBest best;
  std::vector<int> A;
  std::string output;
};

// Round `round` as the search sets it up (representatives R, candidate slot, function variable)
// on the iteration's matrix `study`, scanned by the plain evaluator, or by the packed evaluator
// on the view of `subjects` through `chosen` that stands for the same matrix.
ScanResult scanMatrixOrView(const Samples &study, const Samples &subjects,
                            const std::vector<int> &chosen, const std::vector<int> &R,
                            const std::vector<int> &V, bool packedRoute, double share) {
  const int round = static_cast<int>(R.size()) + 1;
  long nodes = 0;
  long cases = 0;
  study.getSize(nodes, cases);
  const long fvNode = nodes - 1;
  std::vector<int> slots;
  for (const int id : R)
    slots.push_back(id - 1);
  slots.push_back(V.front() - 1);
  slots.push_back(static_cast<int>(fvNode));
  Samples roundMatrix;
  subset_node(roundMatrix, study, slots);
  std::vector<int> ns;
  roundMatrix.getNs(ns);
  Dag oldDag(round + 1);
  for (int j = 0; j < round - 1; ++j)
    oldDag.set(j, round, 1);
  Dag newDag(oldDag);
  newDag.set(round - 1, round, 1);
  BN baselineNet;
  baselineNet.setSize(round + 1, ns);
  baselineNet.setDag(oldDag);
  baselineNet.getSuffStatNode(roundMatrix, round);
  const ScanRound input{V, round, cases, baselineNet.K2ScoreNode(round, 1), share};

  ScanResult result;
  std::ostringstream out;
  if (packedRoute) {
    PackedStudy packed;
    EXPECT_TRUE(packed.build(subjects));
    std::vector<int> xyz;
    subjects.getXYZSiz(xyz);
    const StudyView view(packed, chosen, xyz[0], xyz[1], xyz[2]);
    PackedEvaluator evaluator(view, R);
    scanCandidates(evaluator, input, result.A, result.best, out);
  } else {
    BN trial;
    trial.setSize(round + 1, ns);
    trial.setDag(newDag);
    MatrixEvaluator evaluator(study, roundMatrix, trial, round, fvNode);
    scanCandidates(evaluator, input, result.A, result.best, out);
  }
  result.output = out.str();
  return result;
}

// Sets up round `round` as the search does (representatives R, candidate slot, function
// variable) and scans V with the plain evaluator on the iteration's matrix, or with the packed
// evaluator on a view of `subjects` through `chosen` (every case once when empty).
ScanResult scanRound(const Samples &subjects, const std::vector<int> &chosen,
                     const std::vector<int> &R, const std::vector<int> &V, bool packedRoute,
                     double share) {
  Samples study;
  std::vector<int> all(chosen);
  if (all.empty()) {
    long nodes = 0;
    long count = 0;
    subjects.getSize(nodes, count);
    for (long c = 0; c < count; ++c)
      all.push_back(static_cast<int>(c));
  }
  roitest::materialize(study, subjects, all);
  return scanMatrixOrView(study, subjects, all, R, V, packedRoute, share);
}

// Both evaluators must agree bit for bit; returns the plain result.
ScanResult scanBoth(const Samples &study, const std::vector<int> &R, const std::vector<int> &V,
                    const std::vector<int> &chosen = {}, double share = 0.2) {
  const ScanResult plain = scanRound(study, chosen, R, V, false, share);
  const ScanResult packed = scanRound(study, chosen, R, V, true, share);
  EXPECT_EQ(plain.best.id, packed.best.id);
  EXPECT_EQ(plain.best.gain, packed.best.gain);
  EXPECT_EQ(plain.best.score, packed.best.score);
  EXPECT_EQ(plain.A, packed.A);
  EXPECT_EQ(plain.output, packed.output);
  return plain;
}

// Six cases grouped by (representative state, function state): (0,0) case 0, (1,0) case 1,
// (0,1) case 2, (1,1) cases 3-5. Candidates 2, 3 and 4 reach the same gain ln(2.5) in round 2,
// bit for bit; 2 and 4 have three cases in state 1 (own score -4.94164), 3 has five
// (-3.73767, higher).
void tieStudy(Samples &study) {
  roitest::makeStudy(study, 4, 1, 1, {"010111", "000111", "101111", "111000"}, "001111");
}

} // namespace

TEST(CandidateScan, WorkedRoundOneExample) {
  // Function variable 0 0 1 1 and a voxel with the same states: baseline ln(1/30), trial
  // 2 ln(1/3), gain 1.20397; the voxel's own score is ln(1/30) as well.
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"0011"}, "0011");
  const ScanResult r = scanBoth(study, {}, {1});
  EXPECT_EQ(r.best.id, 1);
  EXPECT_NEAR(r.best.gain, 1.203972804, 1e-9);
  EXPECT_NEAR(r.best.score, -3.401197382, 1e-9);
  EXPECT_EQ(r.output, "Id=1 Diff=1.20397 K2=-3.4012\n0 0 1 1 \n");
  EXPECT_EQ(r.A, (std::vector<int>{1}));
}

TEST(CandidateScan, TieGoesToTheHigherOwnScore) {
  Samples study;
  tieStudy(study);
  const ScanResult r = scanBoth(study, {1}, {2, 3, 4});
  EXPECT_EQ(r.best.id, 3);
  EXPECT_NEAR(r.best.gain, std::log(2.5), 1e-12);
  EXPECT_NEAR(r.best.score, -3.737669618, 1e-9);
  // The first is accepted with its pattern line; the tie that wins gets a line without one.
  EXPECT_EQ(r.output, "Id=2 Diff=0.916291 K2=-4.94164\n0 0 0 1 1 1 \n"
                      "Id=3 Diff=0.916291 K2=-3.73767\n");
  EXPECT_EQ(r.A, (std::vector<int>{2, 3, 4}));
}

TEST(CandidateScan, TieWithEqualOwnScoresKeepsTheLowerId) {
  Samples study;
  tieStudy(study);
  const ScanResult r = scanBoth(study, {1}, {2, 4});
  EXPECT_EQ(r.best.id, 2);
  EXPECT_EQ(r.output, "Id=2 Diff=0.916291 K2=-4.94164\n0 0 0 1 1 1 \n");
}

TEST(CandidateScan, NormAtTheBoundIsPassedOverButStaysInA) {
  // n = 10, bound 2. Voxel 1 copies the function variable (largest gain, norm 2); voxel 2 has
  // norm 3 and a smaller gain and wins.
  Samples study;
  roitest::makeStudy(study, 3, 1, 1, {"1100000000", "1110000000", "0000000001"}, "1100000000");
  const ScanResult r = scanBoth(study, {}, {1, 2, 3});
  EXPECT_EQ(r.best.id, 2);
  EXPECT_EQ(r.A, (std::vector<int>{1, 2}));
}

// n = 20 and representativeShare 0.25: n * share is 5 exactly (in double too). Voxel 1 copies
// the function variable's five cases in state 1 (the largest gain, a norm of exactly 5) and is
// passed over; voxel 2 adds one case (norm 6, a smaller gain) and wins. The default share (bound
// 4) takes voxel 1, and a share of 0.3 (bound 6) neither.
TEST(CandidateScan, ShareBoundIsExclusiveWhereNTimesShareIsWhole) {
  Samples study;
  const std::string fv = "11111000000000000000";
  roitest::makeStudy(study, 2, 1, 1, {fv, "11111100000000000000"}, fv);
  const ScanResult quarter = scanBoth(study, {}, {1, 2}, {}, 0.25);
  EXPECT_EQ(quarter.best.id, 2);
  EXPECT_EQ(quarter.A, (std::vector<int>{1, 2}));
  EXPECT_EQ(scanBoth(study, {}, {1, 2}, {}, 0.2).best.id, 1);
  EXPECT_EQ(scanBoth(study, {}, {1, 2}, {}, 0.3).best.id, -1);
  // Jackknife iterations of 19 cases (19 * 0.25 = 4.75, bound 4): without a case in state 0
  // voxel 1 keeps its five and wins; without case 0 it holds four, and voxel 2 (five) wins.
  std::vector<int> withoutLast;
  std::vector<int> withoutFirst;
  for (int c = 0; c < 19; ++c) {
    withoutLast.push_back(c);
    withoutFirst.push_back(c + 1);
  }
  EXPECT_EQ(scanBoth(study, {}, {1, 2}, withoutLast, 0.25).best.id, 1);
  EXPECT_EQ(scanBoth(study, {}, {1, 2}, withoutFirst, 0.25).best.id, 2);
}

TEST(CandidateScan, ComplementIsRejectedInRoundOneOnly) {
  // The complement differs from the function variable in all 6 cases, more than its norm 3.
  Samples study;
  roitest::makeStudy(study, 2, 1, 1, {"111000", "010101"}, "000111");
  const ScanResult first = scanBoth(study, {}, {1});
  EXPECT_EQ(first.best.id, -1);
  EXPECT_EQ(first.best.gain, 0.0);
  EXPECT_EQ(first.best.score, -99999999999.0);
  EXPECT_EQ(first.A, (std::vector<int>{1}));
  EXPECT_EQ(first.output, "");
  // With a representative already chosen there is no shape test.
  const ScanResult second = scanBoth(study, {2}, {1});
  EXPECT_EQ(second.best.id, 1);
}

TEST(CandidateScan, NoPositiveGainLeavesTheBestsUntouched) {
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"0101"}, "0011");
  const ScanResult r = scanBoth(study, {}, {1});
  EXPECT_EQ(r.best.id, -1);
  EXPECT_TRUE(r.A.empty());
}

TEST(CandidateScan, PackedAndPlainAgreeOnRandomStudies) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 12; ++trial) {
    // Case counts around the 64-bit word boundaries.
    const int cases = std::vector<int>{5, 63, 64, 65, 100, 130}[trial % 6];
    const int voxels = 60;
    std::string fv(cases, '0');
    for (char &c : fv)
      c = static_cast<char>('0' + random() % 2);
    std::vector<std::string> patterns(voxels, std::string(cases, '0'));
    for (auto &p : patterns) {
      const int copyPercent = static_cast<int>(random() % 100);
      for (int c = 0; c < cases; ++c)
        p[c] = static_cast<int>(random() % 100) < copyPercent
                   ? fv[c]
                   : static_cast<char>('0' + random() % 2);
    }
    Samples study;
    roitest::makeStudy(study, voxels, 1, 1, patterns, fv);
    std::vector<int> V;
    for (int id = 4; id <= voxels; ++id)
      V.push_back(id);
    for (const std::vector<int> &R : {std::vector<int>{}, {1}, {1, 3}, {3, 2, 1}}) {
      SCOPED_TRACE("cases " + std::to_string(cases) + ", round " + std::to_string(R.size() + 1));
      scanBoth(study, R, V);
      // A bootstrap draw (repeats count as often as drawn, in bit-planes) and a jackknife case.
      std::vector<int> drawn(static_cast<std::size_t>(cases));
      for (int &d : drawn)
        d = static_cast<int>(random() % cases);
      scanBoth(study, R, V, drawn);
      std::vector<int> leaveOneOut;
      for (int c = 0; c < cases; ++c)
        if (c != trial % cases)
          leaveOneOut.push_back(c);
      if (!leaveOneOut.empty())
        scanBoth(study, R, V, leaveOneOut);
    }
  }
}

TEST(PackedStudy, RefusesStudiesThatAreNotTwoState) {
  Samples study;
  roitest::makeStudy(study, 2, 1, 1, {"0011", "0021"}, "0011");
  PackedStudy packed;
  EXPECT_FALSE(packed.build(study));
  EXPECT_TRUE(packed.empty());
  roitest::makeStudy(study, 2, 1, 1, {"0011", "0001"}, "0011");
  study.setNs({2, 3, 2});
  EXPECT_FALSE(packed.build(study));
  study.setNs({2, 2, 2});
  EXPECT_TRUE(packed.build(study));
  // Case c is bit c of the node's first word.
  EXPECT_EQ(packed.node(1)[0], 0x8u);
}

TEST(EqualPatterns, CountsIdenticalColumnsWithAndWithoutThePackedCopy) {
  Samples study;
  roitest::makeStudy(study, 4, 1, 1, {"0110", "0110", "0111", "0110"}, "0011");
  PackedStudy packed;
  ASSERT_TRUE(packed.build(study));
  const StudyView all(packed, {0, 1, 2, 3}, 4, 1, 1);
  EXPECT_EQ(countEqualPatterns(all, {1, 2, 3, 4}, 2), 3);
  EXPECT_EQ(countEqualPatterns(study, {1, 2, 3, 4}, 2), 3);
  EXPECT_EQ(countEqualPatterns(study, {1, 3}, 3), 1);
  // Without case 3, where voxel 3 differs, it equals voxel 2 too.
  const StudyView withoutLast(packed, {0, 1, 2, 2}, 4, 1, 1);
  EXPECT_EQ(countEqualPatterns(withoutLast, {1, 2, 3, 4}, 2), 4);
}
