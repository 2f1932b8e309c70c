// The stop signals within one process: every case raises a real signal in a child process of
// its own (death tests in the "threadsafe" style, which start the test program afresh, so no
// signal or commit of another test is ever seen) and checks how that process ends.
#include "util/stop_signal.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

#include "data/decoded_study.h"
#include "evidence/evidence_fixtures.h"
#include "evidence/permutation_scan.h"
#include "evidence/permutation_test.h"
#include "results/result_transaction.h"
#include "segment/kclustering.h"
#include "segment/neighborhood.h"
#include "support/nifti_image.h"
#include "support/temp_dir.h"
#include "util/fatal.h"

namespace {

using ::testing::ExitedWithCode;
using testsupport::readFile;
using testsupport::writeFile;

class StopSignal : public ::testing::Test {
protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Nothing is acted on before a signal; the first of several is the one the process ends for,
// with 128 + its number and a line naming it. (SIGINT and SIGTERM: the cases below and the
// commands' own tests.)
TEST_F(StopSignal, TheFirstSignalEndsTheProcessAtTheNextCheck) {
  EXPECT_EXIT(
      {
        torva::catchStopSignals("probe");
        if (torva::stopRequested())
          std::exit(3);
        torva::endIfStopRequested(); // returns: nothing came
        std::raise(SIGHUP);
        std::raise(SIGTERM);
        if (torva::stopSignal() != SIGHUP)
          std::exit(4);
        torva::endIfStopRequested();
        std::exit(5);
      },
      ExitedWithCode(129),
      "^probe: stopped by SIGHUP; what it had not yet put in place was removed");
}

// Work that gives up for the stop ends as a failure would; the process reports the stop instead,
// and no other message. A successful end after a stop is the stop too.
TEST_F(StopSignal, AnyEndAfterAStopIsTheStop) {
  EXPECT_EXIT(
      {
        torva::catchStopSignals("probe");
        std::raise(SIGTERM);
        torva::exitWithMessage(torva::kExitInputError, stderr, "cannot read study.list\n");
      },
      ExitedWithCode(143), "^probe: stopped by SIGTERM[^\n]*\n$");
  EXPECT_EXIT(
      {
        torva::catchStopSignals("probe");
        std::raise(SIGINT);
        torva::exitWithStatus(torva::kExitSuccess);
      },
      ExitedWithCode(130), "stopped by SIGINT");
}

// On a worker thread of a deferred iteration the stop is handed to the thread that writes the
// output, which ends the process after the earlier iterations' output.
TEST_F(StopSignal, AWorkerThreadHandsTheStopOn) {
  EXPECT_EXIT(
      {
        torva::catchStopSignals("probe");
        std::raise(SIGHUP);
        torva::DeferredExit handed;
        std::thread worker([&handed] {
          torva::deferThreadExits(true);
          try {
            torva::endIfStopRequested();
          } catch (const torva::DeferredExit &exit) {
            handed = exit;
          }
        });
        worker.join();
        if (handed.status != torva::stopExitStatus(SIGHUP))
          std::exit(6);
        torva::performExit(handed);
      },
      ExitedWithCode(129), "stopped by SIGHUP");
}

// Once the results are being renamed into place, a signal waits: the process ends as it would
// have, with the new results.
TEST_F(StopSignal, ASignalDuringTheFinalRenamesIsNotActedOn) {
  EXPECT_EXIT(
      {
        torva::catchStopSignals("probe");
        torva::finishDespiteStopSignals();
        std::raise(SIGTERM);
        torva::endIfStopRequested();
        torva::exitWithStatus(torva::stopRequested() ? 7 : torva::kExitSuccess);
      },
      ExitedWithCode(0), "");
}

// The folder of the cases below: the same path in the test and in its death-test process.
std::string stopFolder(const std::string &name) {
  const std::string folder = std::string(TORVA_TEST_OUTPUT_DIR) + "/stop_signal/" + name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

// A signal that came before the commit: the staged results are removed and the earlier ones
// stay, byte for byte; the process ends for the signal.
TEST_F(StopSignal, ACommitAfterASignalPutsNothingInPlace) {
  const std::string folder = stopFolder("commit");
  writeFile(folder + "/model.el.torva", "earlier model\n");
  EXPECT_EXIT(
      {
        torva::catchStopSignals("probe");
        ResultTransaction results(folder);
        if (!results.open().empty())
          std::exit(3);
        writeFile(results.stagedPath("model.el.torva"), "new model\n");
        writeFile(results.stagedPath("roi.el.torva"), "new labels\n");
        std::raise(SIGTERM);
        const std::string problem = results.commit();
        torva::exitWithMessage(problem.empty() ? 0 : torva::kExitInputError, stderr, problem);
      },
      ExitedWithCode(143), "stopped by SIGTERM");
  EXPECT_EQ(readFile(folder + "/model.el.torva"), "earlier model\n");
  EXPECT_FALSE(std::filesystem::exists(folder + "/roi.el.torva"));
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    EXPECT_EQ(entry.path().filename(), "model.el.torva") << "left behind";
}

// A segmentation of a row of six voxels, the last the representative, as the segmentation
// tests have it, after a SIGTERM.
void segmentAfterAStop() {
  torva::catchStopSignals("probe");
  std::raise(SIGTERM);
  const std::vector<int> candidates = {1, 2, 3, 4, 5};
  const std::vector<int> dims = {6, 1, 1};
  std::vector<std::vector<int>> nbhd;
  create_nbhd_system_kclustering(nbhd, 6, candidates, dims);
  std::vector<int> labels;
  std::vector<double> values;
  double gvrc = 0;
  kclustering_lbp_fixed_cluster_number(labels, values, gvrc, candidates, 6,
                                       {0.1, 0.2, 0.3, 0.8, 0.9, 1.0}, nbhd, dims, 1.0, 5, 5, 2);
  std::exit(5);
}

// 1000 permutations of a two-voxel study on two threads after a SIGINT.
void permuteAfterAStop() {
  torva::catchStopSignals("probe");
  evidencetest::TinyStudy tiny{{"0011", "0101"}, "0011"};
  PackedStudy packed;
  tiny.pack(packed);
  const PermutationScan scan(packed, 2, {}, {1, 2});
  std::mt19937_64 generator(1);
  std::vector<NullDraws> tests(1);
  tests[0].stratumOf = scan.stratumOfSubjects();
  tests[0].generator = &generator;
  std::raise(SIGINT);
  permutationNulls(scan, 1000, 2, tests, nullptr);
  std::exit(5);
}

// The decoding of the study `list` on two threads after a SIGHUP.
void decodeAfterAStop(const std::string &list) {
  torva::catchStopSignals("probe");
  std::raise(SIGHUP);
  DecodedStudy study;
  decodeStudy(list, 2, study);
  std::exit(5);
}

// The long loops look at the flag: a segmentation at its next GEM iteration, the decoding of a
// study at its next subject, a permutation test at its next block of permutations (its threads
// joined first).
TEST_F(StopSignal, LongLoopsEndAtTheirNextStep) {
  EXPECT_EXIT(segmentAfterAStop(), ExitedWithCode(143), "stopped by SIGTERM");
  EXPECT_EXIT(permuteAfterAStop(), ExitedWithCode(130), "stopped by SIGINT");
  const std::string folder = stopFolder("decode");
  ASSERT_TRUE(testsupport::writeTestImage(folder + "/s1.nii", DT_UINT8, 2, 1, 1, {1, 0}));
  writeFile(folder + "/list.txt",
            "subjects 1\nnodes 3\nsize 2 1 1\nid file fv\n1 " + folder + "/s1.nii 1\n");
  EXPECT_EXIT(decodeAfterAStop(folder + "/list.txt"), ExitedWithCode(129), "stopped by SIGHUP");
}

} // namespace
