#include "results/result_files.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

std::string goldenFile(const std::string &name) {
  const std::string here = __FILE__;
  return testsupport::readFile(here.substr(0, here.rfind('/')) + "/../driver/golden/" + name);
}

// The parsers read what the driver writes: the golden jackknife run of 16 subjects found the
// representative voxels 234 and 90 (0-based) in half of its iterations.
TEST(ResultFilesOfTheDriver, ParseTheGoldenJackknifeRun) {
  ModelSummary summary;
  ASSERT_EQ(parseModelSummary("model.el.torva", goldenFile("jackknife/model.el.torva"), summary),
            "");
  EXPECT_EQ(summary.distinctModels, 6);
  EXPECT_EQ(summary.modeId, 0);
  EXPECT_DOUBLE_EQ(summary.modeFrequency, 0.5);
  ASSERT_EQ(summary.sorted.size(), 6u);
  EXPECT_DOUBLE_EQ(summary.sorted[0], 0.0625);
  EXPECT_DOUBLE_EQ(summary.sorted[5], 0.5);

  VariableLog log;
  ASSERT_EQ(parseVariableLog("log.el.torva", goldenFile("jackknife/log.el.torva"), log), "");
  EXPECT_EQ(log.representatives, (std::vector<long>{234, 90}));
  EXPECT_EQ(log.names, (std::vector<std::string>{"234", "90", "fv"}));
  EXPECT_EQ(log.subjects(), 16);
  EXPECT_EQ(log.cells[2], "0101010101010101");

  RoiField roi;
  ASSERT_EQ(parseRoiField("roi.el.torva", goldenFile("jackknife/roi.el.torva"), roi), "");
  EXPECT_EQ(roi.regions, 2);
  EXPECT_EQ(roi.labels.size(), 384u); // 8 x 8 x 6
  EXPECT_EQ(roi.labels[234], 1);
  EXPECT_EQ(roi.labels[90], 2);
}

TEST(ResultFilesRoi, RefusesShortFilesAndLabelsOutsideTheRegions) {
  RoiField roi;
  EXPECT_EQ(parseRoiField("r", "1 3\n0 1 0 \n", roi), "");
  EXPECT_EQ(parseRoiField("r", "1 3\n0 1 \n", roi), "r: holds 2 labels, but announces 3 voxels\n");
  EXPECT_EQ(parseRoiField("r", "1 3\n0 2 0 \n", roi), "r: voxel 2 is labelled 2, outside 0 .. 1\n");
  EXPECT_NE(parseRoiField("r", "1 x\n", roi), "");
  EXPECT_NE(parseRoiField("r", "", roi), "");
}

TEST(ResultFilesModel, RefusesAFileCutBeforeItsFrequencies) {
  ModelSummary summary;
  const std::string whole = "model ensemble includes\n2 \ndifferent models\nmodel with highest "
                            "frequency is model \n3 \nfreq=\n0.750000\nmodel freq=\n0.250000 "
                            "0.750000 \n";
  EXPECT_EQ(parseModelSummary("m", whole, summary), "");
  EXPECT_EQ(summary.modeId, 3);
  EXPECT_EQ(parseModelSummary("m", whole.substr(0, whole.size() - 10), summary),
            "m: the file ends before the model frequencies\n");
  EXPECT_NE(parseModelSummary("m", "model ensemble excludes\n", summary).find("expected"),
            std::string::npos);
}

TEST(ResultFilesVariableLog, RefusesDataAndRSetThatDisagree) {
  VariableLog log;
  EXPECT_EQ(parseVariableLog("l", "Variable_list\n7\n0 1 \nfv\n1 1 \nR-SET\n1 7 \n", log), "");
  EXPECT_EQ(log.representatives, (std::vector<long>{7}));
  // A subject missing from one variable's line.
  EXPECT_NE(parseVariableLog("l", "Variable_list\n7\n0 1 \nfv\n1 \nR-SET\n1 7 \n", log), "");
  // R-SET naming another voxel than the one listed.
  EXPECT_EQ(parseVariableLog("l", "Variable_list\n7\n0 1 \nfv\n1 1 \nR-SET\n1 8 \n", log),
            "l: R-SET voxel 8 is not the listed variable 7\n");
  // Cut before R-SET.
  EXPECT_EQ(parseVariableLog("l", "Variable_list\n7\n0 1 \n", log),
            "l: the file ends before its R-SET line\n");
  // The outcome missing: the last variable is a voxel.
  EXPECT_NE(parseVariableLog("l", "Variable_list\n7\n0 1 \n8\n1 1 \nR-SET\n1 7 \n", log), "");
}

TEST(ResultFilesRunLog, FindsTheCaseCountLine) {
  long cases = 0;
  EXPECT_EQ(parseRunLogCases("g", "TORVA Log\nsample_length 15\nN=1\n", cases), "");
  EXPECT_EQ(cases, 15);
  EXPECT_EQ(parseRunLogCases("g", "TORVA Log\n", cases), "g: no 'sample_length' line\n");
  // Found by the fuzzer: a negative count was taken as it stood.
  EXPECT_EQ(parseRunLogCases("g", "sample_length -8 \n", cases),
            "g: the sample length -8 is negative\n");
}

TEST(ResultFilesReading, NamesAMissingFile) {
  std::string text;
  EXPECT_EQ(readResultText("/nonexistent/roi.el.torva", text),
            "/nonexistent/roi.el.torva is missing or cannot be opened\n");
}

} // namespace
