#include "roi/bml.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "bn/bn.h"
#include "data/packed_study.h"
#include "data/study_view.h"
#include "roi/study_builder.h"
#include "support/temp_dir.h"

namespace {

// What one call handed back and wrote.
struct BmlRun {
  std::vector<int> labels;
  std::vector<double> values;
  std::vector<int> representatives;
  std::string output;
  std::string log;
};

BmlRun runBml(const Samples &study, BN &bn, ScanRoute route = ScanRoute::Packed) {
  BmlRun run;
  run.labels = {7};
  run.values = {7.0};
  run.representatives = {7};
  ::testing::internal::CaptureStdout();
  bml(study, run.labels, run.values, bn, run.representatives, route, nullptr);
  run.output = ::testing::internal::GetCapturedStdout();
  run.log = testsupport::readFile("log.torva");
  return run;
}

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// Settings file with the given masking method and Max_ROI, the rest at their defaults.
void configure(int maskMethod, int maxRoi) {
  testsupport::writeFile("torva.configure", "mask " + std::to_string(maskMethod) +
                                                " th 0.2 beta 1 gem 5 lbp 5 roi " +
                                                std::to_string(maxRoi) + "\n");
}

// A 6 x 5 x 4 study of 40 cases whose function variable is (a or b) for two random patterns a
// and b: one block of voxels follows a, another follows b, both with 10% noise; the rest is
// random. Either block alone explains part of the function variable.
void plantedStudy(Samples &study, unsigned seed) {
  std::mt19937 random(seed);
  const int cases = 40;
  const int voxels = 6 * 5 * 4;
  auto randomState = [&random]() { return static_cast<char>('0' + random() % 2); };
  std::string a(cases, '0');
  std::string b(cases, '0');
  std::string fv(cases, '0');
  for (int c = 0; c < cases; ++c) {
    a[c] = randomState();
    b[c] = randomState();
    fv[c] = (a[c] == '1' || b[c] == '1') ? '1' : '0';
  }
  std::vector<std::string> patterns(voxels, std::string(cases, '0'));
  for (int v = 0; v < voxels; ++v) {
    const bool firstBlock = v % 6 < 2 && v / 30 < 2;
    const bool secondBlock = v % 6 > 3 && v / 30 >= 2;
    for (int c = 0; c < cases; ++c) {
      const bool noise = random() % 10 == 0;
      if (firstBlock && !noise)
        patterns[v][c] = a[c];
      else if (secondBlock && !noise)
        patterns[v][c] = b[c];
      else
        patterns[v][c] = randomState();
    }
  }
  roitest::makeStudy(study, 6, 5, 4, patterns, fv);
}

} // namespace

TEST(Bml, WorkedRoundOneRegionTakesTheLastCandidate) {
  testsupport::ScopedTempDir dir;
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"0011"}, "0011");
  BN bn;
  const BmlRun run = runBml(study, bn);
  EXPECT_TRUE(contains(run.output, "Remove all zero entries\n"
                                   "ROI searching round = 1\n"
                                   "Candidtate voxel set size = 1\n"
                                   "DAG old\n"
                                   "DAG new\n"
                                   "0 --> 1\n"
                                   "***************************\n"
                                   "K2 Score (before add new RV) = -3.4012\n"
                                   "Searching the representative voxel\n"
                                   "Id=1 Diff=1.20397 K2=-3.4012\n"
                                   "0 0 1 1 \n"
                                   "\n"
                                   "RV Id= 1, K2 Diff= 1.20397, K2= -3.4012\n"
                                   "This representative pattern includes 1 voxels\n"
                                   "Clustering with centroid 1\n"
                                   "Candidate set size= 0\n"))
      << run.output;
  EXPECT_TRUE(contains(run.output, "From 0 voxels\n"
                                   "1 voxels are in same cluster as 1\n"
                                   "Representative voxel Id\n"
                                   "1 \n"
                                   "__________________________________\n"
                                   "End: V is empty\n"
                                   "Representative voxel 1\n"
                                   "0 0 1 1 \n"
                                   "function variable\n"
                                   "0 0 1 1 \n"))
      << run.output;
  EXPECT_FALSE(contains(run.output, "End: A is empty"));
  EXPECT_FALSE(contains(run.output, "End: Maximum ROI number"));
  EXPECT_EQ(run.labels, (std::vector<int>{1}));
  EXPECT_EQ(run.values, (std::vector<double>{1.0}));
  EXPECT_EQ(run.representatives, (std::vector<int>{1}));
  // The segmentation's line sits between the round record and the closing block.
  EXPECT_EQ(run.log, "TORVA Log\nsample_length 4\nN=1\nRId= 1, K2 Diff= 1.20397, K2= -3.4012\n"
                     "R=1 cluster mean= 1 std= 0\nRV\n2\nRId= 1\n0 0 1 1 \nfv\n0 0 1 1 \n");
}

TEST(Bml, NoRepresentativeInRoundOne) {
  testsupport::ScopedTempDir dir;
  Samples study;
  roitest::makeStudy(study, 2, 1, 1, {"0101", "0000"}, "0011");
  BN bn;
  const BmlRun run = runBml(study, bn);
  EXPECT_TRUE(contains(run.output, "Searching the representative voxel\n"
                                   "\n"
                                   "RV Id= -1, K2 Diff= 0, K2= -1e+11\n"
                                   "Representative voxel Id\n"
                                   "\n"
                                   "__________________________________\n"
                                   "End: A is empty\n"
                                   "function variable\n"
                                   "0 0 1 1 \n"))
      << run.output;
  EXPECT_FALSE(contains(run.output, "This representative pattern"));
  EXPECT_EQ(run.log, "TORVA Log\nsample_length 4\nN=1\nRId= -1, K2 Diff= 0, K2= -1e+11\n"
                     "RV\n1\nfv\n0 0 1 1 \n");
  EXPECT_EQ(run.labels, (std::vector<int>{-1, -9}));
  EXPECT_EQ(run.values, (std::vector<double>{-1.0, -1.0}));
  EXPECT_TRUE(run.representatives.empty());
  // The function variable alone with its smoothed marginal: counts 2, 2 become 3/6 each.
  ASSERT_EQ(bn.getNodeCount(), 1);
  EXPECT_EQ(bn.getCPD(0), (std::vector<double>{0, 2, 0.5, 0.5}));
}

TEST(Bml, ComplementOfTheFunctionVariableIsRejectedInRoundOne) {
  testsupport::ScopedTempDir dir;
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"111000"}, "000111");
  BN bn;
  const BmlRun run = runBml(study, bn);
  EXPECT_TRUE(contains(run.output, "RV Id= -1, K2 Diff= 0, K2= -1e+11\n"));
  EXPECT_TRUE(contains(run.output, "End: A is empty\n"));
  EXPECT_EQ(run.labels, (std::vector<int>{-1}));
}

TEST(Bml, MaxRoiOneRunsExactlyOneRound) {
  testsupport::ScopedTempDir dir;
  configure(-1, 1);
  Samples study;
  plantedStudy(study, 3);
  BN bn;
  const BmlRun run = runBml(study, bn);
  EXPECT_TRUE(contains(run.output, "Don't use mask\nROI searching round = 1\n"
                                   "Candidtate voxel set size = 120\n"));
  EXPECT_FALSE(contains(run.output, "ROI searching round = 2"));
  EXPECT_TRUE(contains(run.output, "End: Maximum ROI number\nRepresentative voxel "));
  EXPECT_FALSE(contains(run.output, "End: V is empty"));
  ASSERT_EQ(run.representatives.size(), 1u);
  // The representative lies in its own region, with value 1; nothing lies outside V.
  const int rv = run.representatives[0];
  EXPECT_EQ(run.labels[rv - 1], 1);
  EXPECT_EQ(run.values[rv - 1], 1.0);
  for (std::size_t v = 0; v < run.labels.size(); ++v) {
    EXPECT_TRUE(run.labels[v] == 1 || run.labels[v] == -1) << v;
    EXPECT_EQ(run.labels[v] == 1, run.values[v] != -1.0) << v;
  }
}

TEST(Bml, MaxRoiZeroStillRunsOneRound) {
  testsupport::ScopedTempDir dir;
  configure(-1, 0);
  Samples study;
  plantedStudy(study, 3);
  BN bn;
  const BmlRun run = runBml(study, bn);
  EXPECT_TRUE(contains(run.output, "ROI searching round = 1\n"));
  EXPECT_FALSE(contains(run.output, "ROI searching round = 2"));
  EXPECT_TRUE(contains(run.output, "End: Maximum ROI number\n"));
}

TEST(Bml, RegionsAreDisjointAndTheNetworkHasEveryRepresentativeAsParent) {
  testsupport::ScopedTempDir dir;
  configure(-1, 2);
  Samples study;
  plantedStudy(study, 11);
  BN bn;
  const BmlRun run = runBml(study, bn);
  ASSERT_EQ(run.representatives.size(), 2u) << run.output;
  for (std::size_t r = 0; r < 2; ++r)
    EXPECT_EQ(run.labels[run.representatives[r] - 1], static_cast<int>(r) + 1);
  ASSERT_EQ(bn.getNodeCount(), 3);
  std::vector<int> parents;
  bn.getDag().getParents(parents, 2);
  EXPECT_EQ(parents, (std::vector<int>{0, 1}));
  bn.getDag().getParents(parents, 0);
  EXPECT_TRUE(parents.empty());
  // One column per joint state of the two representatives: 4 configurations x 2 states.
  EXPECT_EQ(bn.getCPD(2).size(), 2u + 8u);
  // The closing block repeats the study's columns.
  std::vector<char> column(40);
  std::string expected = "RV\n3\n";
  for (const int id : run.representatives) {
    study.getOneNode(column.data(), id - 1);
    expected += "RId= " + std::to_string(id) + "\n";
    for (const char c : column)
      expected += std::string(1, c) + " ";
    expected += "\n";
  }
  EXPECT_NE(run.log.find(expected), std::string::npos) << run.log;
  EXPECT_TRUE(contains(run.log, "N=1\n"));
  EXPECT_TRUE(contains(run.log, "N=2\n"));
}

TEST(Bml, PackedAndPlainRoutesGiveIdenticalResults) {
  for (const unsigned seed : {3u, 5u, 11u}) {
    testsupport::ScopedTempDir dir;
    configure(0, 3);
    Samples study;
    plantedStudy(study, seed);
    BN packedBn;
    BN plainBn;
    const BmlRun packed = runBml(study, packedBn, ScanRoute::Packed);
    const BmlRun plain = runBml(study, plainBn, ScanRoute::Plain);
    EXPECT_EQ(packed.output, plain.output);
    EXPECT_EQ(packed.log, plain.log);
    EXPECT_EQ(packed.labels, plain.labels);
    EXPECT_EQ(packed.values, plain.values);
    EXPECT_EQ(packed.representatives, plain.representatives);
    EXPECT_FALSE(packed.representatives.empty());
  }
}

TEST(Bml, RunLogHoldsOnlyTheLastCall) {
  testsupport::ScopedTempDir dir;
  Samples first;
  roitest::makeStudy(first, 1, 1, 1, {"0011"}, "0011");
  Samples second;
  roitest::makeStudy(second, 2, 1, 1, {"01010", "00000"}, "00111");
  BN bn;
  runBml(first, bn);
  const BmlRun run = runBml(second, bn);
  EXPECT_EQ(run.log.rfind("TORVA Log\nsample_length 5\n", 0), 0u) << run.log;
  EXPECT_EQ(run.log.find("TORVA Log", 1), std::string::npos);
  // The network of the first call is replaced.
  EXPECT_EQ(bn.getNodeCount(), 1);
}

TEST(Bml, StudiesThatAreNotTwoStateTakeThePlainRoute) {
  testsupport::ScopedTempDir dir;
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"0022"}, "0011");
  study.setNs({3, 2});
  BN bn;
  const BmlRun packed = runBml(study, bn, ScanRoute::Packed);
  const BmlRun plain = runBml(study, bn, ScanRoute::Plain);
  EXPECT_EQ(packed.output, plain.output);
  EXPECT_EQ(packed.representatives, (std::vector<int>{1}));
}

TEST(BmlDeathTest, EmptyCandidateSetEndsWithMinusTwoAndKeepsThePreviousLog) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("log.torva", "previous\n");
  Samples study;
  roitest::makeStudy(study, 2, 1, 1, {"0000", "0000"}, "0011");
  BN bn;
  std::vector<int> labels;
  std::vector<double> values;
  std::vector<int> representatives;
  EXPECT_EXIT(bml(study, labels, values, bn, representatives), ::testing::ExitedWithCode(254), "");
  EXPECT_EQ(testsupport::readFile("log.torva"), "previous\n");
}

TEST(BmlDeathTest, MaxRoiAboveTwentyIsRefusedBeforeAnyScreening) {
  testsupport::ScopedTempDir dir;
  configure(-1, 21);
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"0011"}, "0011");
  BN bn;
  std::vector<int> labels;
  std::vector<double> values;
  std::vector<int> representatives;
  EXPECT_EXIT(bml(study, labels, values, bn, representatives), ::testing::ExitedWithCode(1),
              "torva.configure: Max_ROI 21");
  EXPECT_FALSE(testsupport::fileExistsOnDisk("log.torva"));
}

TEST(BmlDeathTest, StudyWhoseExtentsDoNotMatchItsNodesIsRefused) {
  testsupport::ScopedTempDir dir;
  Samples study;
  roitest::makeStudy(study, 3, 1, 1, {"0011", "0101"}, "0011");
  BN bn;
  std::vector<int> labels;
  std::vector<double> values;
  std::vector<int> representatives;
  EXPECT_EXIT(bml(study, labels, values, bn, representatives), ::testing::ExitedWithCode(1),
              "the study has 3 nodes; its extents need 3 voxels");
}

namespace {

RoundOneOverlap overlapOfRun(const Samples &study, ScanRoute route) {
  BN bn;
  std::vector<int> labels;
  std::vector<double> values;
  std::vector<int> representatives;
  RoundOneOverlap overlap;
  overlap.measured = true; // must be reset by the call when round 1 chooses a voxel
  ::testing::internal::CaptureStdout();
  bml(study, labels, values, bn, representatives, route, nullptr, &overlap);
  ::testing::internal::GetCapturedStdout();
  return overlap;
}

} // namespace

// Ten cases, the outcome in the first five. Voxels 1 and 2 follow it in two cases each and raise
// its score, but a representative voxel needs more than 2 (10 / 5) cases in state 1.
TEST(BmlRoundOneOverlap, MeasuredWhenNoCandidateIsLesionedInEnoughCases) {
  for (const ScanRoute route : {ScanRoute::Packed, ScanRoute::Plain}) {
    testsupport::ScopedTempDir dir;
    Samples study;
    roitest::makeStudy(study, 3, 1, 1, {"1100000000", "0110000000", "0000000001"}, "1111100000");
    const RoundOneOverlap overlap = overlapOfRun(study, route);
    EXPECT_TRUE(overlap.measured);
    EXPECT_EQ(overlap.largestInCases, 2);
    EXPECT_EQ(overlap.largestInSubjects, 2);
    EXPECT_EQ(overlap.normBound, 2);
    EXPECT_EQ(overlap.cases, 10);
  }
}

TEST(BmlRoundOneOverlap, NotMeasuredWhenRoundOneChoosesAVoxel) {
  testsupport::ScopedTempDir dir;
  Samples study;
  roitest::makeStudy(study, 1, 1, 1, {"0011"}, "0011");
  EXPECT_FALSE(overlapOfRun(study, ScanRoute::Packed).measured);
}

// A bootstrap draw counts a subject as often as it was drawn; the overlap in subjects counts it
// once. Subject 0, lesioned in voxel 1, is drawn twice among 11 cases.
TEST(BmlRoundOneOverlap, CasesCountRepeatsAndSubjectsDoNot) {
  testsupport::ScopedTempDir dir;
  Samples subjects;
  roitest::makeStudy(subjects, 2, 1, 1, {"1000000000", "0100000000"}, "1111100000");
  PackedStudy packed;
  ASSERT_TRUE(packed.build(subjects));
  const std::vector<int> chosen = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const StudyView view(packed, chosen, 2, 1, 1);
  BN bn;
  std::vector<int> labels;
  std::vector<double> values;
  std::vector<int> representatives;
  RoundOneOverlap overlap;
  ::testing::internal::CaptureStdout();
  bml(view, labels, values, bn, representatives, nullptr, &overlap);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(representatives.empty());
  EXPECT_TRUE(overlap.measured);
  EXPECT_EQ(overlap.largestInCases, 2);
  EXPECT_EQ(overlap.largestInSubjects, 1);
  EXPECT_EQ(overlap.normBound, 2); // 11 * 0.2 = 2.2
  EXPECT_EQ(overlap.cases, 11);
}

// The search takes the share from torva.configure: in the study above no voxel passes a fifth
// (bound 2), but with representativeShare 0.15 (10 * 0.15 = 1.5, bound 1) voxels 1 and 2 pass and
// round 1 takes the first of equal gain and own score; the overlap of a run that still finds
// nothing carries the share and its bound.
TEST(BmlRoundOneOverlap, TheSettingsShareSetsTheBound) {
  for (const ScanRoute route : {ScanRoute::Packed, ScanRoute::Plain}) {
    testsupport::ScopedTempDir dir;
    Samples study;
    roitest::makeStudy(study, 3, 1, 1, {"1100000000", "0110000000", "0000000001"}, "1111100000");
    const std::string nine = "mask 0 th 0.2 beta 1 gem 5 lbp 5 roi 1 count -1 nbhd 0 verbose 0";
    testsupport::writeFile("torva.configure", nine + " representativeShare 0.15\n");
    BN bn;
    const BmlRun run = runBml(study, bn, route);
    EXPECT_EQ(run.representatives, (std::vector<int>{1}));
    EXPECT_TRUE(contains(run.output, "Verbose: No\nrepresentativeShare= 0.15\n"));
    testsupport::writeFile("torva.configure", nine + " representativeShare 0.25\n");
    const RoundOneOverlap overlap = overlapOfRun(study, route);
    EXPECT_TRUE(overlap.measured);
    EXPECT_EQ(overlap.normBound, 2); // 10 * 0.25 = 2.5
    EXPECT_EQ(overlap.share, 0.25);
  }
}
