// Whole runs of the command on small generated studies, with every result text file compared
// to expected files kept beside this test (tests/driver/golden/). The expected files were
// checked against an independent recomputation from the kept iteration label files.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

using testsupport::fileExistsOnDisk;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;

std::string goldenDir(const std::string &run) {
  const std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/golden/" + run + "/";
}

struct GoldenRun {
  const char *name;
  const char *arguments; // method and resampling size
  int iterations;
};

void PrintTo(const GoldenRun &run, std::ostream *out) { *out << run.name; }

class GoldenRuns : public ::testing::TestWithParam<GoldenRun> {};

// 16 subjects of 8 x 8 x 6 voxels with three planted regions. In the jackknife run the mode
// {235, 91} is also found as (91, 235) in iteration 12, and the models {235, 84} and {228, 91}
// have equal id sums but stay apart.
TEST_P(GoldenRuns, ResultFilesMatchTheExpectedOnes) {
  const GoldenRun run = GetParam();
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --regions 3 --seed 1"),
            0);
  ASSERT_EQ(
      runCommand(std::string(TORVACOREEL_PATH) + " study/torva.prj.filelist " + run.arguments), 0)
      << readFile("stderr.txt");
  const std::string expected = goldenDir(run.name);
  for (const char *file :
       {"model.el.torva", "log.el.torva", "roi.el.torva", "bn.el.torva", "bn.el.xdsl"}) {
    ASSERT_TRUE(fileExistsOnDisk(expected + file)) << expected + file;
    EXPECT_EQ(readFile(file), readFile(expected + file)) << file;
  }
  const std::string progress = readFile("stdout.txt");
  const auto ensembleStart = progress.find("model=");
  ASSERT_NE(ensembleStart, std::string::npos);
  EXPECT_EQ(progress.substr(ensembleStart), readFile(expected + "ensemble_progress.txt"));
  EXPECT_EQ(readFile("stderr.txt"), "");
  for (int P = 0; P <= run.iterations; ++P)
    EXPECT_FALSE(fileExistsOnDisk("label" + std::to_string(P) + ".torva")) << P;
  for (const char *image :
       {"label_field_torvael.hdr", "label_field_torvael.img", "label_field_torvael.nii",
        "prob_map_torvael.hdr", "prob_map_torvael.img", "prob_map_torvael.nii"})
    EXPECT_TRUE(fileExistsOnDisk(image)) << image;
}

INSTANTIATE_TEST_SUITE_P(Ensemble, GoldenRuns,
                         ::testing::Values(GoldenRun{"jackknife", "1 0", 16},
                                           GoldenRun{"bootstrap", "2 10", 10}),
                         [](const ::testing::TestParamInfo<GoldenRun> &info) {
                           return std::string(info.param.name);
                         });

} // namespace

namespace {

// The same runs with a settings file whose tenth pair sets representativeShare 0.2 and whose
// nine pairs are the defaults of a run without the file: every result file is the expected one
// (n * 0.2 in double is the bound n / 5 of before), and standard output differs only by the
// settings echo's share line in each iteration and the missing notice of the absent file.
TEST_P(GoldenRuns, ShareOfAFifthKeepsEveryByte) {
  const GoldenRun run = GetParam();
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --regions 3 --seed 1"),
            0);
  ASSERT_EQ(runCommand(std::string(TORVACOREEL_PATH) + " study/torva.prj.filelist " + run.arguments,
                       "without.txt", "without_err.txt"),
            0);
  testsupport::writeFile("torva.configure", "maskMethod 0 normThreshold 0.2 beta 1.0 T_gem 5 "
                                            "T_lbp 5 Max_ROI 3 segmentationCount -1 "
                                            "neighborhoodType 0 verbose 0\n"
                                            "representativeShare 0.2\n");
  ASSERT_EQ(
      runCommand(std::string(TORVACOREEL_PATH) + " study/torva.prj.filelist " + run.arguments), 0)
      << readFile("stderr.txt");
  const std::string expected = goldenDir(run.name);
  for (const char *file :
       {"model.el.torva", "log.el.torva", "roi.el.torva", "bn.el.torva", "bn.el.xdsl"})
    EXPECT_EQ(readFile(file), readFile(expected + file)) << file;
  EXPECT_EQ(readFile("stderr.txt"), "");
  std::string withShare = readFile("stdout.txt");
  std::string without = readFile("without.txt");
  const auto removeAll = [](std::string &text, const std::string &line) {
    int removed = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at)) {
      text.erase(at, line.size());
      ++removed;
    }
    return removed;
  };
  EXPECT_EQ(removeAll(withShare, "Verbose: No\nrepresentativeShare= 0.2\n"), run.iterations);
  EXPECT_EQ(removeAll(without, "No TORVA configuration file, use default value\nSetting\n"),
            run.iterations);
  EXPECT_EQ(removeAll(without, "Verbose: No\n"), run.iterations);
  EXPECT_EQ(removeAll(withShare, "Setting\n"), run.iterations);
  EXPECT_TRUE(withShare == without);
}

} // namespace
