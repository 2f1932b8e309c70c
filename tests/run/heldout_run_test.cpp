// The resampling loop's held-out predictions and the two files the ensemble step writes from
// them: each iteration predicts exactly the subjects it did not draw, from the add-one-smoothed
// table of its own draws, for any thread count; a whole run writes both files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "data/decoded_study.h"
#include "evidence/heldout_prediction.h"
#include "results/result_transaction.h"
#include "run/ensemble.h"
#include "run/resampling.h"
#include "run/resampling_method.h"
#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

// A study of x x 1 x 1 voxels, one string of states per subject, and the file list.
void writeStudy(const std::vector<std::string> &subjects, const std::string &outcomes) {
  const int voxels = static_cast<int>(subjects.front().size());
  std::string list = "subjects " + std::to_string(subjects.size()) + "\nnodes " +
                     std::to_string(voxels + 1) + "\nsize " + std::to_string(voxels) +
                     " 1 1\nid file fv\n";
  for (std::size_t s = 0; s < subjects.size(); ++s) {
    std::vector<double> values;
    for (const char state : subjects[s])
      values.push_back(state == '1' ? 1.0 : 0.0);
    const std::string name = "s" + std::to_string(s + 1) + ".nii";
    ASSERT_TRUE(testsupport::writeTestImage(name, DT_UINT8, voxels, 1, 1, values));
    list += std::to_string(s + 1) + " " + name + " " + outcomes[s] + "\n";
  }
  writeFile("list.txt", list);
}

// The loop on `study` as the command runs it (rand() seeded with 0), its text captured.
ResamplingResult resample(const DecodedStudy &study, int method, int iterations, int threads) {
  ResamplingResult result;
  std::srand(0);
  ::testing::internal::CaptureStdout();
  runResampling(result, study, method, 0, iterations, threads);
  ::testing::internal::GetCapturedStdout();
  return result;
}

bool stateOf(const DecodedStudy &study, long node, int subject) {
  return ((study.subjects.node(node)[subject / 64] >> (subject % 64)) & 1u) != 0;
}

// The plain route: for every iteration, the undrawn subjects in order, each with
// (n1 + 1) / (n + 2) counted over the iteration's draws (repeats included) that share the
// subject's states at the iteration's representatives.
std::vector<IterationPredictions> plainPredictions(const DecodedStudy &study, int method,
                                                   const std::vector<ModelRecord> &records) {
  const int subjects = static_cast<int>(study.list.subjects.size());
  const long fv = study.list.nodeCount - 1;
  std::srand(0);
  std::vector<std::vector<int>> draws;
  chooseAllSubjects(draws, method, subjects, 0, static_cast<int>(records.size()));
  std::vector<IterationPredictions> expected;
  for (std::size_t P = 0; P < records.size(); ++P) {
    const ModelRecord &record = records[P];
    const auto sameStates = [&](int a, int b) {
      for (int t = 0; t < record[1]; ++t)
        if (stateOf(study, record[2 + t] - 1, a) != stateOf(study, record[2 + t] - 1, b))
          return false;
      return true;
    };
    IterationPredictions iteration;
    for (int s = 0; s < subjects; ++s) {
      bool drawn = false;
      double n = 0;
      double n1 = 0;
      for (const int d : draws[P]) {
        drawn = drawn || d == s;
        if (sameStates(s, d)) {
          n += 1;
          n1 += stateOf(study, fv, d) ? 1 : 0;
        }
      }
      if (!drawn)
        iteration.push_back({s, (n1 + 1) / (n + 2)});
    }
    expected.push_back(iteration);
  }
  return expected;
}

struct LoopCase {
  const char *name;
  int method;
  int iterations;
};

void PrintTo(const LoopCase &c, std::ostream *out) { *out << c.name; }

class HeldOutLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(HeldOutLoop, PredictsTheUndrawnSubjectsFromItsDrawsForAnyThreadCount) {
  const LoopCase c = GetParam();
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --regions 3 --seed 1"),
            0);
  DecodedStudy study;
  ASSERT_FALSE(static_cast<bool>(decodeStudy("study/torva.prj.filelist", 2, study)));
  const int iterations = c.method == kJackknife ? 16 : c.iterations;
  const ResamplingResult one = resample(study, c.method, iterations, 1);
  const ResamplingResult three = resample(study, c.method, iterations, 3);
  ASSERT_EQ(one.records.size(), static_cast<std::size_t>(iterations));
  ASSERT_EQ(one.predictions.size(), one.records.size());
  EXPECT_EQ(three.records, one.records);
  EXPECT_EQ(three.predictions, one.predictions);
  const std::vector<IterationPredictions> expected = plainPredictions(study, c.method, one.records);
  std::size_t predicted = 0;
  for (std::size_t P = 0; P < expected.size(); ++P) {
    EXPECT_EQ(one.predictions[P], expected[P]) << "iteration " << P;
    predicted += expected[P].size();
  }
  // The jackknife predicts every subject once; a bootstrap leaves about a third out of bag.
  if (c.method == kJackknife)
    EXPECT_EQ(predicted, 16u);
  else
    EXPECT_GT(predicted, static_cast<std::size_t>(iterations));
}

INSTANTIATE_TEST_SUITE_P(Methods, HeldOutLoop,
                         ::testing::Values(LoopCase{"jackknife", kJackknife, 0},
                                           LoopCase{"bootstrap", kBootstrap, 6}),
                         [](const ::testing::TestParamInfo<LoopCase> &info) {
                           return std::string(info.param.name);
                         });

// Five subjects of two voxels: voxel 1 is set in subject 1 only, which alone has outcome 1;
// voxel 2 is set in subject 5. Whole runs of the command, worked by hand.
class HeldOutFiles : public ::testing::Test {
protected:
  void SetUp() override { writeStudy({"10", "00", "00", "00", "01"}, "10000"); }
  void run(const std::string &arguments) {
    ASSERT_EQ(runCommand(std::string(TORVACOREEL_PATH) + " list.txt " + arguments), 0)
        << readFile("stderr.txt");
    EXPECT_EQ(readFile("stderr.txt"), "");
  }
  ScopedTempDir dir;
};

// Iteration 0 leaves out subject 1, the only outcome 1: no voxel is found, and its network is
// the smoothed base rate of the other four, (0 + 1) / (4 + 2) = 1/6. Every other iteration finds
// voxel 1 and predicts its left-out subject, voxel 1 unset, from the three drawn with voxel 1
// unset, all outcome 0: (0 + 1) / (3 + 2) = 1/5.
//   auc: 1/6 against four of 1/5 -> 0; every call 0: accuracy 4/5, rates 0 and 1 -> 1/2
//   brier ((5/6)^2 + 4 (1/5)^2) / 5 = 0.170888..; log loss (ln 6 + 4 ln 5/4) / 5 = 0.536866..
//   lesion volumes 1 against 0 0 0 1: (1 + 1 + 1 + 1/2) / 4 = 0.875
TEST_F(HeldOutFiles, JackknifeWithAnIterationThatFindsNoVoxel) {
  run("1 0");
  EXPECT_EQ(readFile("prediction.tsv"), "id\timage\toutcome\theldout\tp_outcome1\n"
                                        "1\ts1.nii\t1\t1\t0.166667\n"
                                        "2\ts2.nii\t0\t1\t0.200000\n"
                                        "3\ts3.nii\t0\t1\t0.200000\n"
                                        "4\ts4.nii\t0\t1\t0.200000\n"
                                        "5\ts5.nii\t0\t1\t0.200000\n");
  EXPECT_EQ(readFile("prediction_summary.tsv"),
            "measure\tvalue\nmethod\tjackknife\niterations\t5\nsubjects\t5\npredicted\t5\n"
            "outcome1\t1\nauc\t0.000000\naccuracy\t0.800000\nbalanced_accuracy\t0.500000\n"
            "brier\t0.170889\nlog_loss\t0.536867\nauc_lesion_volume\t0.875000\n"
            // One outcome-1 subject: no DeLong comparison.
            "auc_ci_low\tNA\nauc_ci_high\tNA\nauc_difference\tNA\n"
            "auc_difference_ci_low\tNA\nauc_difference_ci_high\tNA\nauc_difference_p\tNA\n");
}

// The first two bootstrap draws after srand(0), as list positions: 4 1 3 3 4 (out of bag 0, 2)
// and 0 1 3 1 2 (out of bag 4). Subjects 2 and 4 (positions 1, 3) are drawn both times: NA.
// Neither iteration finds a voxel, so each predicts its base rate: 0 of 5 -> 1/7, then 1 of 5
// -> 2/7.
//   auc: 1/7 against 1/7 (a tie) and 2/7 -> 1/4; every call 0: accuracy 2/3, balanced 1/2
//   brier (36 + 1 + 4) / 49 / 3 = 0.278911..; log loss (ln 7 + ln 7/6 + ln 7/5) / 3 = 0.812177..
//   lesion volumes 1 against 0 and 1: (1 + 1/2) / 2 = 0.75
TEST_F(HeldOutFiles, BootstrapWithSubjectsNeverOutOfBag) {
  std::srand(0);
  std::vector<std::vector<int>> draws;
  chooseAllSubjects(draws, kBootstrap, 5, 0, 2);
  ASSERT_EQ(draws, (std::vector<std::vector<int>>{{4, 1, 3, 3, 4}, {0, 1, 3, 1, 2}}));
  run("2 2");
  EXPECT_EQ(readFile("prediction.tsv"), "id\timage\toutcome\theldout\tp_outcome1\n"
                                        "1\ts1.nii\t1\t1\t0.142857\n"
                                        "2\ts2.nii\t0\t0\tNA\n"
                                        "3\ts3.nii\t0\t1\t0.142857\n"
                                        "4\ts4.nii\t0\t0\tNA\n"
                                        "5\ts5.nii\t0\t1\t0.285714\n");
  EXPECT_EQ(readFile("prediction_summary.tsv"),
            "measure\tvalue\nmethod\tbootstrap\niterations\t2\nsubjects\t5\npredicted\t3\n"
            "outcome1\t1\nauc\t0.250000\naccuracy\t0.666667\nbalanced_accuracy\t0.500000\n"
            "brier\t0.278912\nlog_loss\t0.812178\nauc_lesion_volume\t0.750000\n"
            // One outcome-1 subject: no DeLong comparison.
            "auc_ci_low\tNA\nauc_ci_high\tNA\nauc_difference\tNA\n"
            "auc_difference_ci_low\tNA\nauc_difference_ci_high\tNA\nauc_difference_p\tNA\n");
}

} // namespace
