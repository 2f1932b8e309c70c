#include "evidence/heldout_prediction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "data/packed_study.h"
#include "data/study_reader.h"
#include "roi/study_builder.h"

namespace {

PackedStudy packedStudy(const std::vector<std::string> &voxels, const std::string &fv) {
  Samples study;
  roitest::makeStudy(study, static_cast<int>(voxels.size()), 1, 1, voxels, fv);
  PackedStudy packed;
  EXPECT_TRUE(packed.build(study));
  return packed;
}

// The function variable's table of an iteration's network with P(outcome = 1 | j) = p1[j]:
// [node id, 2q, P(0 | j) for every j, P(1 | j) for every j].
std::vector<double> outcomeTable(int node, const std::vector<double> &p1) {
  std::vector<double> table = {static_cast<double>(node), 2.0 * p1.size()};
  for (const double p : p1)
    table.push_back(1.0 - p);
  table.insert(table.end(), p1.begin(), p1.end());
  return table;
}

FileList listOf(const std::vector<long> &outcomes) {
  FileList list;
  list.subjectCount = static_cast<long>(outcomes.size());
  for (std::size_t s = 0; s < outcomes.size(); ++s)
    list.subjects.push_back(
        {static_cast<long>(s + 1), "s" + std::to_string(s + 1) + ".nii", outcomes[s]});
  return list;
}

std::vector<int> heldOutOf(const std::vector<int> &drawn, int subjects) {
  std::vector<int> heldOut = {99};
  heldOutSubjects(drawn, subjects, heldOut);
  return heldOut;
}

TEST(HeldOutSubjects, LeftOutAndOutOfBagInAscendingOrder) {
  EXPECT_EQ(heldOutOf({0, 1, 3}, 4), (std::vector<int>{2}));          // jackknife iteration 2
  EXPECT_EQ(heldOutOf({3, 0, 3, 0, 1}, 5), (std::vector<int>{2, 4})); // bootstrap, repeats
  EXPECT_EQ(heldOutOf({2, 0, 1}, 3), (std::vector<int>{}));           // every subject drawn
}

// Voxels 1, 2, 3 of subject 2 are in states 1, 0, 1. With the representatives found in the
// order 3, 1 the first one found is the lowest bit: j = s(3) + 2 s(1) = 3; in the order 2, 3
// j = 0 + 2 = 2.
TEST(ConfigurationOf, FirstFoundRepresentativeIsTheLowestBit) {
  const PackedStudy study = packedStudy({"0010", "0100", "1010"}, "0000");
  EXPECT_EQ(configurationOf(study, {3, 1}, 2), 3u);
  EXPECT_EQ(configurationOf(study, {2, 3}, 2), 2u);
  EXPECT_EQ(configurationOf(study, {2, 3}, 1), 1u); // voxel 2 of subject 1
  EXPECT_EQ(configurationOf(study, {}, 2), 0u);
}

TEST(PredictHeldOut, ReadsTheColumnOfEachSubjectAndRefusesATableOfAnotherSize) {
  // Subjects 64 .. 66 sit in the second word of every node.
  std::string v1(67, '0');
  std::string v2(67, '0');
  v1[65] = v1[66] = '1';
  v2[64] = v2[66] = '1';
  const PackedStudy study = packedStudy({v1, v2}, std::string(67, '0'));
  const std::vector<double> table = outcomeTable(2, {0.1, 0.2, 0.3, 0.4}); // j = s(2) + 2 s(1)
  IterationPredictions predictions;
  ASSERT_TRUE(predictHeldOut(study, {2, 1}, table, {0, 64, 65, 66}, predictions));
  EXPECT_EQ(predictions, (IterationPredictions{{0, 0.1}, {64, 0.2}, {65, 0.3}, {66, 0.4}}));

  // No representative: the smoothed base rate for everyone.
  ASSERT_TRUE(predictHeldOut(study, {}, outcomeTable(0, {0.375}), {1, 65}, predictions));
  EXPECT_EQ(predictions, (IterationPredictions{{1, 0.375}, {65, 0.375}}));

  EXPECT_FALSE(predictHeldOut(study, {2, 1}, outcomeTable(2, {0.1, 0.2}), {0}, predictions));
  EXPECT_TRUE(predictions.empty());
  EXPECT_FALSE(predictHeldOut(study, {1}, std::vector<double>{}, {0}, predictions));
}

TEST(MeanPredictions, SumsInIterationOrderAndCountsEveryPrediction) {
  const std::vector<IterationPredictions> iterations = {
      {{0, 0.1}, {2, 0.5}}, {{0, 0.2}}, {}, {{0, 0.3}, {2, 0.25}}};
  std::vector<SubjectPrediction> means;
  meanPredictions(iterations, 3, means);
  ASSERT_EQ(means.size(), 3u);
  EXPECT_EQ(means[0].heldout, 3);
  // (0.1 + 0.2) + 0.3 is 0.6000000000000001, 0.1 + (0.2 + 0.3) is 0.6: the order shows.
  EXPECT_EQ(means[0].p, ((0.1 + 0.2) + 0.3) / 3);
  EXPECT_EQ(means[1].heldout, 0);
  EXPECT_EQ(means[2].heldout, 2);
  EXPECT_EQ(means[2].p, 0.375);
}

TEST(LesionVolumes, CountsEveryVoxelInStateOneButNotTheOutcome) {
  std::string v1(70, '0');
  std::string v2(70, '1');
  v1[3] = v1[69] = '1';
  const PackedStudy study = packedStudy({v1, v2}, std::string(70, '1'));
  std::vector<long> volumes;
  lesionVolumes(study, 2, volumes);
  ASSERT_EQ(volumes.size(), 70u);
  EXPECT_EQ(volumes[0], 1);
  EXPECT_EQ(volumes[3], 2);
  EXPECT_EQ(volumes[69], 2);
  EXPECT_EQ(volumes[68], 1);
}

std::vector<SubjectPrediction> predictedAll(const std::vector<double> &p) {
  std::vector<SubjectPrediction> means;
  for (const double value : p)
    means.push_back({1, value});
  return means;
}

TEST(SummarisePredictions, OneOutcomeLeavesTheMeasuresThatNeedBothNA) {
  const PredictionSummary summary =
      summarisePredictions(predictedAll({0.75, 0.25}), {1, 1}, {3, 1});
  EXPECT_EQ(summary.predicted, 2);
  EXPECT_EQ(summary.outcome1, 2);
  EXPECT_FALSE(summary.auc.has_value());
  EXPECT_FALSE(summary.balancedAccuracy.has_value());
  EXPECT_FALSE(summary.aucLesionVolume.has_value());
  EXPECT_EQ(summary.accuracy, 0.5);
  EXPECT_EQ(summary.brier, (0.0625 + 0.5625) / 2);
  EXPECT_EQ(summary.logLoss, (-std::log(0.75) - std::log(0.25)) / 2);
}

TEST(SummarisePredictions, NoneHeldOutLeavesAllSixNA) {
  const std::vector<SubjectPrediction> none(3);
  const PredictionSummary summary = summarisePredictions(none, {1, 0, 1}, {1, 2, 3});
  EXPECT_EQ(summary.predicted, 0);
  EXPECT_EQ(summary.outcome1, 0);
  EXPECT_EQ(predictionSummaryText("bootstrap", 2, 3, summary),
            "measure\tvalue\nmethod\tbootstrap\niterations\t2\nsubjects\t3\npredicted\t0\n"
            "outcome1\t0\nauc\tNA\naccuracy\tNA\nbalanced_accuracy\tNA\nbrier\tNA\n"
            "log_loss\tNA\nauc_lesion_volume\tNA\n"
            "auc_ci_low\tNA\nauc_ci_high\tNA\nauc_difference\tNA\n"
            "auc_difference_ci_low\tNA\nauc_difference_ci_high\tNA\nauc_difference_p\tNA\n");
}

// The two files of a run whose iterations predicted `iterations`, on `study` (two voxels) with
// list outcomes `outcomes`.
struct RunFiles {
  std::string table;
  std::string summary;
};
RunFiles filesOf(const PackedStudy &study, const std::vector<IterationPredictions> &iterations,
                 const std::vector<long> &outcomes, const std::string &method) {
  const int subjects = static_cast<int>(outcomes.size());
  std::vector<SubjectPrediction> means;
  meanPredictions(iterations, subjects, means);
  std::vector<long> volumes;
  lesionVolumes(study, 2, volumes);
  const std::vector<int> outcome(outcomes.begin(), outcomes.end());
  const PredictionSummary summary = summarisePredictions(means, outcome, volumes);
  return {predictionTableText(listOf(outcomes), means),
          predictionSummaryText(method, static_cast<int>(iterations.size()), subjects, summary)};
}

// A jackknife of four subjects worked by hand. Voxel 1: 1 1 0 0, voxel 2: 1 0 1 0, outcome
// 1 1 0 0. Each table is the add-one-smoothed P(1 | j) = (n1(j) + 1) / (n(j) + 2) over the three
// drawn subjects:
//   P = 0 drew 1, 2, 3 and found voxel 1:     j=0: 0 of 2 -> 1/4; j=1: 1 of 1 -> 2/3.
//         subject 0 has voxel 1 set:          2/3
//   P = 1 drew 0, 2, 3 and found nothing:     base rate 1 of 3 -> 2/5 for subject 1
//   P = 2 drew 0, 1, 3 and found voxels 2, 1 (j = s(2) + 2 s(1)): subject 0 is j=3, subject 1
//         j=2, subject 3 j=0 -> 2/3, 2/3, 1/3, and the unseen j=1 -> 1/2. Subject 2 is j=1: 1/2
//   P = 3 drew 0, 1, 2 and found voxel 1:     j=0: 0 of 1 -> 1/3 for subject 3
// Means 2/3, 2/5, 1/2, 1/3 against outcomes 1 1 0 0:
//   auc: (2/3 > 1/2, 2/3 > 1/3, 2/5 < 1/2, 2/5 > 1/3) = 3/4
//   p > 0.5 calls 1 0 0 0 (1/2 is not above the cut): accuracy 3/4, rates 1/2 and 1 -> 3/4
//   brier (1/9 + 9/25 + 1/4 + 1/9) / 4 = 0.2080555..
//   log loss (ln 3/2 + ln 5/2 + ln 2 + ln 3/2) / 4 = 0.6050920..
//   lesion volumes 2 1 1 0: (2 > 1, 2 > 0, 1 = 1, 1 > 0) = 3.5 / 4
// DeLong, paired (evidence/auc.h): V10 of p over the outcome-1 subjects (1, 1/2),
// of the volume (1, 3/4); V01 over the outcome-0 subjects (1/2, 1) and (3/4, 1). With divisor 1:
//   S10_aa = 1/8, S10_bb = 1/32, S10_ab = 1/16, and S01 the same.
//   var(auc) = 1/8 / 2 + 1/8 / 2 = 1/8: 0.75 -+ 1.959964 * 0.353553 = 0.057048 .. 1 (clipped)
//   var(diff) = 2 * (1/8 + 1/32 - 2/16) / 2 = 1/32: -0.125 -+ 1.959964 * 0.176777
//   p = erfc(0.125 / (0.176777 * sqrt 2)) = erfc(1/2) = 0.479500
TEST(HeldOutWorkedRuns, JackknifeOfFourSubjects) {
  const PackedStudy study = packedStudy({"1100", "1010"}, "1100");
  const std::vector<std::vector<int>> representatives = {{1}, {}, {2, 1}, {1}};
  const std::vector<std::vector<double>> p1 = {
      {0.25, 2.0 / 3}, {0.4}, {1.0 / 3, 0.5, 2.0 / 3, 2.0 / 3}, {1.0 / 3, 0.75}};
  std::vector<IterationPredictions> iterations(4);
  for (int P = 0; P < 4; ++P) {
    std::vector<int> drawn;
    for (int s = 0; s < 4; ++s)
      if (s != P)
        drawn.push_back(s);
    const int fvNode = static_cast<int>(representatives[P].size());
    ASSERT_TRUE(predictHeldOut(study, representatives[P], outcomeTable(fvNode, p1[P]),
                               heldOutOf(drawn, 4), iterations[P]));
  }
  const RunFiles files = filesOf(study, iterations, {1, 1, 0, 0}, "jackknife");
  EXPECT_EQ(files.table, "id\timage\toutcome\theldout\tp_outcome1\n"
                         "1\ts1.nii\t1\t1\t0.666667\n"
                         "2\ts2.nii\t1\t1\t0.400000\n"
                         "3\ts3.nii\t0\t1\t0.500000\n"
                         "4\ts4.nii\t0\t1\t0.333333\n");
  EXPECT_EQ(files.summary,
            "measure\tvalue\nmethod\tjackknife\niterations\t4\nsubjects\t4\npredicted\t4\n"
            "outcome1\t2\nauc\t0.750000\naccuracy\t0.750000\nbalanced_accuracy\t0.750000\n"
            "brier\t0.208056\nlog_loss\t0.605092\nauc_lesion_volume\t0.875000\n"
            "auc_ci_low\t0.057048\nauc_ci_high\t1.000000\nauc_difference\t-0.125000\n"
            "auc_difference_ci_low\t-0.471476\nauc_difference_ci_high\t0.221476\n"
            "auc_difference_p\t0.479500\n");
}

// A bootstrap of five subjects in two iterations, worked by hand. Voxel 1: 1 0 1 0 1, voxel 2:
// 0 0 0 0 1, outcome 1 0 1 0 0.
//   P = 0 drew 0 0 1 3 3 (out of bag: 2, 4) and found voxel 1. Over the draws, repeats
//         counted: j=0 (1, 3, 3): 0 of 3 -> 1/5; j=1 (0, 0): 2 of 2 -> 3/4. Subjects 2 and 4
//         have voxel 1 set: 3/4 each
//   P = 1 drew 1 2 2 3 1 (out of bag: 0, 4) and found nothing: 2 of 5 -> 3/7 each
// Subjects 1 and 3 are drawn in both: NA. Means: subject 0 3/7, subject 2 3/4, subject 4
// (3/4 + 3/7) / 2 = 33/56 = 0.589286, against outcomes 1 1 0:
//   auc: (3/7 < 33/56, 3/4 > 33/56) = 1/2
//   p > 0.5 calls 0 1 1: accuracy 1/3; rates 1/2 and 0 -> 1/4
//   brier ((4/7)^2 + (1/4)^2 + (33/56)^2) / 3 = 0.245429..
//   log loss (ln 7/3 + ln 4/3 + ln 56/23) / 3 = 0.674946..
//   lesion volumes 1, 1 against 2: both below -> 0
TEST(HeldOutWorkedRuns, BootstrapWithASubjectNeverHeldOut) {
  const PackedStudy study = packedStudy({"10101", "00001"}, "10100");
  std::vector<IterationPredictions> iterations(2);
  ASSERT_TRUE(predictHeldOut(study, {1}, outcomeTable(1, {0.2, 0.75}),
                             heldOutOf({0, 0, 1, 3, 3}, 5), iterations[0]));
  ASSERT_TRUE(predictHeldOut(study, {}, outcomeTable(0, {3.0 / 7}), heldOutOf({1, 2, 2, 3, 1}, 5),
                             iterations[1]));
  const RunFiles files = filesOf(study, iterations, {1, 0, 1, 0, 0}, "bootstrap");
  EXPECT_EQ(files.table, "id\timage\toutcome\theldout\tp_outcome1\n"
                         "1\ts1.nii\t1\t1\t0.428571\n"
                         "2\ts2.nii\t0\t0\tNA\n"
                         "3\ts3.nii\t1\t1\t0.750000\n"
                         "4\ts4.nii\t0\t0\tNA\n"
                         "5\ts5.nii\t0\t2\t0.589286\n");
  EXPECT_EQ(files.summary,
            "measure\tvalue\nmethod\tbootstrap\niterations\t2\nsubjects\t5\npredicted\t3\n"
            "outcome1\t2\nauc\t0.500000\naccuracy\t0.333333\nbalanced_accuracy\t0.250000\n"
            "brier\t0.245429\nlog_loss\t0.674946\nauc_lesion_volume\t0.000000\n"
            // One outcome-0 subject: no DeLong comparison.
            "auc_ci_low\tNA\nauc_ci_high\tNA\nauc_difference\tNA\n"
            "auc_difference_ci_low\tNA\nauc_difference_ci_high\tNA\nauc_difference_p\tNA\n");
}

} // namespace
