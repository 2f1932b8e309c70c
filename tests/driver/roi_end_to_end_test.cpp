// The command on a small generated study with planted regions: the learner must find them, and
// every iteration's label file must be what the learner returns for that iteration's subjects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include <nifti1_io.h>

#include "bn/bn.h"
#include "data/decoded_study.h"
#include "data/samples.h"
#include "roi/bml.h"
#include "run/resampling.h"
#include "run/resampling_method.h"
#include "support/samples_from_list.h"
#include "support/temp_dir.h"

namespace {

constexpr int kSubjects = 40;
constexpr int kIterations = 3;

// Makes the default example study (20 x 24 x 20, three planted regions) in "study"; true when
// the generator succeeded.
bool makeExampleStudy() {
  const std::string make =
      std::string(MAKE_EXAMPLE_STUDY_PATH) + " --out study --subjects " + std::to_string(kSubjects);
  return testsupport::runCommand(make, "make.txt", "make_err.txt") == 0;
}

// Makes the example study and runs the command on it with bootstrap resampling; returns the
// command's exit status.
int runOnExampleStudy() {
  if (!makeExampleStudy())
    return -1;
  return testsupport::runCommand(std::string(TORVACOREEL_PATH) + " study/torva.prj.filelist 2 " +
                                 std::to_string(kIterations));
}

// Voxel ids of each planted region, one line per region.
std::vector<std::set<int>> plantedRegions() {
  std::istringstream lines(testsupport::readFile("study/regions.txt"));
  std::vector<std::set<int>> regions;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream ids(line);
    std::set<int> region;
    int id = 0;
    while (ids >> id)
      region.insert(id);
    regions.push_back(region);
  }
  return regions;
}

// The representative voxels each iteration hands back, from the progress text.
std::vector<std::vector<int>> representativesPerIteration(const std::string &output) {
  std::vector<std::vector<int>> found;
  std::istringstream lines(output);
  std::string line;
  const std::string prefix = "Representative voxel ";
  while (std::getline(lines, line)) {
    if (line.rfind("resampling ", 0) == 0)
      found.emplace_back();
    else if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() &&
             line.find_first_not_of("0123456789", prefix.size()) == std::string::npos &&
             !found.empty())
      found.back().push_back(std::stoi(line.substr(prefix.size())));
  }
  return found;
}

} // namespace

TEST(RoiEndToEnd, RepresentativesLieInThePlantedRegions) {
  testsupport::ScopedTempDir dir;
  ASSERT_EQ(runOnExampleStudy(), 0) << testsupport::readFile("stderr.txt");
  const std::vector<std::set<int>> regions = plantedRegions();
  ASSERT_EQ(regions.size(), 3u);
  const auto found = representativesPerIteration(testsupport::readFile("stdout.txt"));
  ASSERT_EQ(found.size(), static_cast<std::size_t>(kIterations));
  for (std::size_t P = 0; P < found.size(); ++P) {
    ASSERT_FALSE(found[P].empty()) << "iteration " << P;
    std::set<std::size_t> regionsHit;
    for (const int id : found[P]) {
      std::size_t r = 0;
      while (r < regions.size() && regions[r].count(id) == 0)
        ++r;
      EXPECT_LT(r, regions.size()) << "iteration " << P << ": voxel " << id;
      regionsHit.insert(r);
    }
    // Distinct regions: each round's region is removed before the next search.
    EXPECT_EQ(regionsHit.size(), found[P].size()) << "iteration " << P;
  }
}

// The command's route (every image decoded once, iterations as views on several threads)
// against the plain route it replaced: each iteration reads its subjects' images into a full
// matrix and the learner counts on that matrix. A complete run deletes the label files at its
// end, so the resampling loop is run in-process here and its label files, records, progress text
// and run log are compared before any ensemble step.
struct RouteCase {
  int method;
  int threads;
};

class RoutesAgree : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RoutesAgree, LabelFieldsRecordsTextAndLogMatchThePlainRoute) {
  const RouteCase route = GetParam();
  testsupport::ScopedTempDir dir;
  ASSERT_TRUE(makeExampleStudy()) << testsupport::readFile("make_err.txt");
  const char *list = "study/torva.prj.filelist";
  DecodedStudy decoded;
  ASSERT_FALSE(static_cast<bool>(decodeStudy(list, route.threads, decoded)));
  ResamplingResult result;
  std::srand(0);
  ::testing::internal::CaptureStdout();
  runResampling(result, decoded, route.method, 0, kIterations, route.threads);
  const std::string text = ::testing::internal::GetCapturedStdout();
  const std::string runLog = testsupport::readFile("log.torva");
  ASSERT_EQ(result.records.size(), static_cast<std::size_t>(kIterations));
  EXPECT_EQ(result.voxels, 20L * 24L * 20L);

  std::srand(0); // the command's seed: the same draws in the same order
  std::vector<int> chosen;
  std::string plainText;
  for (int P = 0; P < kIterations; ++P) {
    chooseSubjects(chosen, route.method, kSubjects, P);
    Samples study;
    std::vector<int> labels;
    std::vector<double> values;
    std::vector<int> representatives;
    BN bn;
    ::testing::internal::CaptureStdout();
    readFilelistSubsetNifti(study, list, chosen);
    bml(study, labels, values, bn, representatives, ScanRoute::Plain, nullptr);
    plainText += "resampling " + std::to_string(P) + "\nRead Dataset\n" +
                 ::testing::internal::GetCapturedStdout() + "*****************\n";
    std::vector<int> kept;
    decodeLabelRuns(result.labels.at(P), kept);
    EXPECT_EQ(kept, labels) << "iteration " << P;
    EXPECT_EQ(result.records[P], makeModelRecord(P, representatives)) << "iteration " << P;
  }
  EXPECT_EQ(text, plainText);
  EXPECT_EQ(runLog, testsupport::readFile("log.torva"));
}

INSTANTIATE_TEST_SUITE_P(ThreadsAndMethods, RoutesAgree,
                         ::testing::Values(RouteCase{kBootstrap, 1}, RouteCase{kBootstrap, 2},
                                           RouteCase{kBootstrap, 3}, RouteCase{kJackknife, 2}),
                         [](const ::testing::TestParamInfo<RouteCase> &info) {
                           return std::string(info.param.method == kBootstrap ? "bootstrap"
                                                                              : "jackknife") +
                                  "_" + std::to_string(info.param.threads) + "threads";
                         });

// Every member labels its representative voxels with their own regions, so in the consensus
// each representative of the mode carries its region number with frequency 100.
TEST(RoiEndToEnd, ConsensusKeepsTheModesRepresentatives) {
  testsupport::ScopedTempDir dir;
  ASSERT_EQ(runOnExampleStudy(), 0) << testsupport::readFile("stderr.txt");
  const std::string output = testsupport::readFile("stdout.txt");
  const std::string modeLine = "the model mode is #";
  const auto at = output.find(modeLine);
  ASSERT_NE(at, std::string::npos);
  const int modeId = std::atoi(output.c_str() + at + modeLine.size());
  const auto found = representativesPerIteration(output);
  ASSERT_LT(modeId, static_cast<int>(found.size()));
  const std::vector<int> &mode = found[modeId];
  ASSERT_FALSE(mode.empty());

  std::istringstream roi(testsupport::readFile("roi.el.torva"));
  int regions = 0;
  long voxels = 0;
  ASSERT_TRUE(roi >> regions >> voxels);
  EXPECT_EQ(regions, static_cast<int>(mode.size()));
  std::vector<int> consensus(voxels);
  for (int &label : consensus)
    ASSERT_TRUE(roi >> label);
  nifti_image *labelImage = nifti_image_read("label_field_torvael.nii", 1);
  nifti_image *mapImage = nifti_image_read("prob_map_torvael.nii", 1);
  ASSERT_NE(labelImage, nullptr);
  ASSERT_NE(mapImage, nullptr);
  ASSERT_EQ(static_cast<long>(labelImage->nvox), voxels);
  const auto *labelVoxels = static_cast<const unsigned char *>(labelImage->data);
  const auto *percent = static_cast<const float *>(mapImage->data);
  for (std::size_t s = 1; s <= mode.size(); ++s) {
    const long v = mode[s - 1] - 1;
    EXPECT_EQ(consensus[v], static_cast<int>(s)) << "representative " << mode[s - 1];
    EXPECT_EQ(labelVoxels[v], s) << "representative " << mode[s - 1];
    EXPECT_EQ(percent[v], 100.0f) << "representative " << mode[s - 1];
  }
  for (long v = 0; v < voxels; ++v)
    ASSERT_EQ(labelVoxels[v], consensus[v]) << "voxel " << v;
  nifti_image_free(labelImage);
  nifti_image_free(mapImage);
}
