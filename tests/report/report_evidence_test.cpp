// The report with the evidence files beside the run's results and with an atlas: hand-made
// folders of the two-region fixture (result_folder.h), every new column worked by hand.
#include "report/report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <sys/stat.h>

#include "report/colour_maps.h"
#include "report/evidence_files.h"
#include "report/report_evidence.h"
#include "report/result_folder.h"
#include "support/png_image.h"
#include "support/temp_dir.h"

namespace {

using namespace reportfixture;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

const std::string kReport = TORVACOREEL_REPORT_PATH;

const std::string kExistingHeader =
    "region,voxels,volume_mm3,rep_id,rep_x,rep_y,rep_z,com_x,com_y,com_z,min_x,min_y,min_z,max_x,"
    "max_y,max_z,freq_mean,freq_max,lesioned,outcome1_lesioned,spared,outcome1_spared";
const std::string kExistingRow1 =
    "1,3,72.0,2,8.0,-20.0,30.0,9.3,-19.0,30.0,8.0,-20.0,30.0,10.0,-17.0,30.0,83.3,100.0,3,2,2,1";
const std::string kExistingRow2 =
    "2,2,48.0,24,4.0,-14.0,34.0,4.0,-15.5,34.0,4.0,-17.0,34.0,4.0,-14.0,34.0,50.0,75.0,2,2,3,1";

void writePermutation(const std::string &dir, const std::string &secondRep = "24") {
  writeFile(dir + "/permutation.tsv",
            "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\n"
            "1\t2\t3.250000\t0.012000\t0.800000\t2.100000\t999\n"
            "2\t" +
                secondRep + "\t1.100000\t0.350000\t0.700000\t1.900000\t999\n");
}

// Subjects 1..5 of the fixture, outcome 1 1 0 0 1; subject 4 never held out. Predicted: 0.9 (1),
// 0.6 (1), 0.6 (0), 0.6 (1).
void writePrediction(const std::string &dir) {
  writeFile(dir + "/prediction.tsv", "id\timage\toutcome\theldout\tp_outcome1\n"
                                     "1\ts1.nii\t1\t2\t0.900000\n2\ts2.nii\t1\t1\t0.600000\n"
                                     "3\ts3.nii\t0\t1\t0.600000\n4\ts4.nii\t0\t0\tNA\n"
                                     "5\ts5.nii\t1\t3\t0.600000\n");
  writeFile(dir + "/prediction_summary.tsv",
            "measure\tvalue\nmethod\tbootstrap\niterations\t7\nsubjects\t5\npredicted\t4\n"
            "outcome1\t3\nauc\t0.666667\naccuracy\t0.750000\nbalanced_accuracy\t0.500000\n"
            "brier\t0.172500\nlog_loss\t0.533634\nauc_lesion_volume\t0.666667\n");
}

// permutation.tsv as torvacoreel-permute writes it since the lesion-size control.
void writePermutationWithVolume(const std::string &dir) {
  writeFile(dir + "/permutation.tsv",
            "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\tp_fwe_volume\n"
            "1\t2\t3.250000\t0.012000\t0.800000\t2.100000\t999\t0.031000\n"
            "2\t24\t1.100000\t0.350000\t0.700000\t1.900000\t999\t0.620000\n");
}

// The summary of writePrediction with the six DeLong rows after auc_lesion_volume, the
// difference's p-value written as `p`.
void writePredictionWithComparison(const std::string &dir, const std::string &p) {
  writePrediction(dir);
  writeFile(dir + "/prediction_summary.tsv",
            readFile(dir + "/prediction_summary.tsv") +
                "auc_ci_low\t0.812345\nauc_ci_high\t0.944444\nauc_difference\t0.118000\n"
                "auc_difference_ci_low\t0.049000\nauc_difference_ci_high\t0.187000\n"
                "auc_difference_p\t" +
                p + "\n");
}

// Labels 5 at voxels 0 and 1, 7 at voxel 4 (region 1: 66.7 % and 33.3 %); 9 at voxel 19 and 0 at
// voxel 23 (region 2: 50.0 %, and its representative, voxel 23, unlabelled).
void writeAtlas(const std::string &path, const char *type = "NIFTI_TYPE_INT16", bool las = true) {
  std::vector<float> floats(kX * kY * kZ, 0.0f);
  floats[0] = floats[1] = 5;
  floats[4] = 7;
  floats[19] = 9;
  floats[10] = 3;
  if (std::string(type) == "NIFTI_TYPE_FLOAT32") {
    writeImage(path, floats.data(), type, kX, kY, kZ, las);
    return;
  }
  std::vector<short> labels(floats.begin(), floats.end());
  writeImage(path, labels.data(), type, kX, kY, kZ, las);
}

class ReportEvidence : public ::testing::Test {
protected:
  void SetUp() override {
    mkdir("run", 0755);
    writeTwoRegionRun("run");
    writeStudy();
  }
  ScopedTempDir dir;
};

TEST_F(ReportEvidence, PermutationAppendsPFweAndThePageNamesTheCount) {
  writePermutation("run");
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("rep/regions.csv"), kExistingHeader + ",p_fwe\n" + kExistingRow1 +
                                             ",0.012000\n" + kExistingRow2 + ",0.350000\n");
  const std::string page = readFile("rep/report.html");
  EXPECT_NE(page.find("<th>p_fwe</th>"), std::string::npos);
  EXPECT_NE(page.find("<td>0.012000</td>"), std::string::npos);
  EXPECT_NE(page.find("from 999 permutations"), std::string::npos);
}

TEST_F(ReportEvidence, AtlasAppendsRepLabelAndTopLabelsAfterPFwe) {
  writePermutation("run");
  writeAtlas("atlas.nii");
  writeFile("names.txt", "5\tleft insula\n7 putamen, left\n");
  ASSERT_EQ(runCommand(kReport + " --study study.list --atlas atlas.nii --atlas-labels "
                                 "names.txt --out rep run"),
            0)
      << readFile("stderr.txt");
  // The name with a comma is quoted; label 9 has no name and shows its index.
  EXPECT_EQ(readFile("rep/regions.csv"),
            kExistingHeader + ",p_fwe,rep_label,top_labels\n" + kExistingRow1 +
                ",0.012000,left insula,\"left insula:66.7;putamen, left:33.3\"\n" + kExistingRow2 +
                ",0.350000,,9:50.0\n");
  const std::string page = readFile("rep/report.html");
  // On the page every top label starts a line of its own.
  EXPECT_NE(page.find("<td class=\"name\">left insula</td><td class=\"name\">left "
                      "insula:66.7;<br>putamen, left:33.3</td>"),
            std::string::npos);
  EXPECT_NE(page.find("atlas atlas.nii"), std::string::npos);
}

// p_fwe_volume comes last, after the atlas columns, so that every column before it keeps its
// place; the page says what it is. A file without it (above) gives no such column.
TEST_F(ReportEvidence, LesionSizeControlAppendsPFweVolumeLast) {
  writePermutationWithVolume("run");
  writeAtlas("atlas.nii");
  ASSERT_EQ(runCommand(kReport + " --study study.list --atlas atlas.nii --out rep run"), 0)
      << readFile("stderr.txt");
  EXPECT_EQ(readFile("rep/regions.csv"),
            kExistingHeader + ",p_fwe,rep_label,top_labels,p_fwe_volume\n" + kExistingRow1 +
                ",0.012000,5,5:66.7;7:33.3,0.031000\n" + kExistingRow2 +
                ",0.350000,,9:50.0,0.620000\n");
  const std::string page = readFile("rep/report.html");
  EXPECT_NE(page.find("<th>p_fwe_volume</th></tr>"), std::string::npos);
  EXPECT_NE(page.find("<td>0.620000</td></tr>"), std::string::npos);
  EXPECT_NE(page.find("p_fwe_volume: the same test with the outcome permuted within lesion-volume "
                      "bins as well"),
            std::string::npos);
  ASSERT_EQ(runCommand(kReport + " --out plain run"), 0) << readFile("stderr.txt");
  EXPECT_NE(readFile("plain/regions.csv").find(",p_fwe,p_fwe_volume\n"), std::string::npos);
}

// The line under the ROC from the six rows: AUC and difference to three decimals, intervals to
// two, p to three or "< 0.001", a p of NA said so; a summary without the rows (a run from before
// them, above) or with NA rows gives no line.
TEST_F(ReportEvidence, DelongLineUnderTheRoc) {
  writePredictionWithComparison("run", "0.001234");
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  const std::string page = readFile("rep/report.html");
  const std::string line = "<p class=\"comparison\">held-out AUC 0.667 (95 % CI 0.81 to 0.94) "
                           "against lesion volume 0.667: difference 0.118 (0.05 to 0.19), DeLong "
                           "p = 0.001</p>";
  EXPECT_NE(page.find(line), std::string::npos) << page.substr(page.find("<h3>ROC"), 4000);
  EXPECT_LT(page.find("<h3>ROC</h3>"), page.find(line));
  EXPECT_GT(page.find("<h3>Calibration</h3>"), page.find(line));

  HeldOutPrediction prediction;
  ASSERT_EQ(loadHeldOutPrediction("run", prediction), "");
  for (auto &entry : prediction.summary)
    if (entry.first == "auc_difference_p")
      entry.second = "0.000400";
  EXPECT_NE(aucComparisonLine(prediction).find("), DeLong p < 0.001"), std::string::npos);
  for (auto &entry : prediction.summary)
    if (entry.first == "auc_difference_p")
      entry.second = "NA";
  EXPECT_NE(aucComparisonLine(prediction)
                .find("), DeLong p not defined (the difference has no variance)"),
            std::string::npos);
  for (auto &entry : prediction.summary)
    if (entry.first == "auc_ci_low")
      entry.second = "NA";
  EXPECT_EQ(aucComparisonLine(prediction), "");
  writePrediction("run");
  ASSERT_EQ(loadHeldOutPrediction("run", prediction), "");
  EXPECT_EQ(aucComparisonLine(prediction), "");
  ASSERT_EQ(runCommand(kReport + " --study study.list --out old run"), 0);
  EXPECT_EQ(readFile("old/report.html").find("class=\"comparison\""), std::string::npos);
}

// The run table names representativeShare when the run's torva.configure sets it, and only then;
// a value there that is no share is refused, naming the file.
TEST_F(ReportEvidence, RunTableShowsTheShareWhenSet) {
  const std::string nine = "a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 i 0";
  writeFile("run/torva.configure", nine + "\n");
  ASSERT_EQ(runCommand(kReport + " --out rep run"), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("rep/report.html").find("representativeShare"), std::string::npos);
  writeFile("run/torva.configure", nine + " representativeShare 1e-1\n");
  ASSERT_EQ(runCommand(kReport + " --out rep run"), 0) << readFile("stderr.txt");
  EXPECT_NE(readFile("rep/report.html")
                .find("<tr><th>subjects</th><td>5</td></tr>\n"
                      "<tr><th>representativeShare</th><td>0.1</td></tr>\n"),
            std::string::npos);
  writeFile("run/torva.configure", nine + " representativeShare 0\n");
  EXPECT_EQ(runCommand(kReport + " --out bad run"), 1);
  EXPECT_EQ(readFile("stderr.txt"),
            "torvacoreel-report: run/torva.configure: representativeShare \"0\" is not a "
            "number strictly between 0 and 1\n");
  EXPECT_FALSE(testsupport::fileExistsOnDisk("bad/report.html"));
}

TEST_F(ReportEvidence, FloatAtlasWithoutNamesUsesTheIndices) {
  writeAtlas("atlas.nii", "NIFTI_TYPE_FLOAT32");
  ASSERT_EQ(runCommand(kReport + " --atlas atlas.nii --out rep run"), 0) << readFile("stderr.txt");
  const std::string csv = readFile("rep/regions.csv");
  EXPECT_NE(csv.find("freq_max,rep_label,top_labels\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",83.3,100.0,5,5:66.7;7:33.3\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",50.0,75.0,,9:50.0\n"), std::string::npos) << csv;
}

// Predicted subjects 1, 2, 3, 5. Pairs (outcome 1 against subject 3's 0.6): 0.9 wins, two ties:
// AUC (1 + 0.5 + 0.5) / 3. Lesion volumes 3, 2, 2, 2 voxels give the same. Calibration: 0.9 in
// the last bin (observed 1), the three 0.6 in the fourth (observed 2 of 3).
TEST_F(ReportEvidence, PredictionShowsCurvesMeasuresCalibrationAndTheRecordedMethod) {
  writePrediction("run");
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  const std::string page = readFile("rep/report.html");
  EXPECT_NE(page.find("<h2>Held-out prediction</h2>"), std::string::npos);
  EXPECT_NE(page.find("held-out prediction, AUC 0.666667"), std::string::npos);
  EXPECT_NE(page.find("lesion volume, AUC 0.666667"), std::string::npos);
  for (const char *cell :
       {"<th>subjects predicted</th><td>4 of 5</td>",
        "<th>accuracy (cut at 0.5)</th><td>0.750000</td>",
        "<th>balanced accuracy</th><td>0.500000</td>", "<th>Brier score</th><td>0.172500</td>",
        "<th>log loss</th><td>0.533634</td>",
        "<td>0.6 &ndash; 0.8</td><td>3</td><td>0.600</td><td>0.667</td>",
        "<td>0.8 &ndash; 1.0</td><td>1</td><td>0.900</td><td>1.000</td>",
        "<td>0.0 &ndash; 0.2</td><td>0</td><td>-</td>",
        "<tr><th>method</th><td>bootstrap</td></tr>", "<tr><th>iterations</th><td>7</td></tr>"})
    EXPECT_NE(page.find(cell), std::string::npos) << cell;
  // The held-out curve on the 260-pixel axes from (40, 30): (0,0) (0,1/3) (1,1).
  EXPECT_NE(page.find("d=\"M40.0,290.0 L40.0,203.3 L300.0,30.0\""), std::string::npos);
  // The existing files keep their bytes: regions.csv gains nothing from the prediction.
  EXPECT_EQ(readFile("rep/regions.csv"),
            kExistingHeader + "\n" + kExistingRow1 + "\n" + kExistingRow2 + "\n");
}

// The ROC curves of `page`, in drawing order: the area under each path (pixels mapped back to
// the unit square of 260 pixels from (40, 30), trapezoid rule) and the AUC its legend states.
struct DrawnCurve {
  double area = 0;
  double statedAuc = -1;
};
std::vector<DrawnCurve> drawnRocCurves(const std::string &page) {
  std::vector<DrawnCurve> curves;
  const std::string pathStart = "<path fill=\"none\" stroke-width=\"2\"";
  for (std::size_t at = page.find(pathStart); at != std::string::npos;
       at = page.find(pathStart, at + 1)) {
    const std::size_t d = page.find(" d=\"", at) + 4;
    std::istringstream points(page.substr(d, page.find('"', d) - d));
    DrawnCurve curve;
    char command = 0;
    char comma = 0;
    double px = 0;
    double py = 0;
    double lastX = 0;
    double lastY = 0;
    for (int n = 0; points >> command >> px >> comma >> py; ++n) {
      const double x = (px - 40.0) / 260.0;
      const double y = (290.0 - py) / 260.0;
      if (n > 0)
        curve.area += (x - lastX) * (y + lastY) / 2.0;
      lastX = x;
      lastY = y;
    }
    const std::size_t label = page.find("AUC ", at);
    if (label != std::string::npos)
      curve.statedAuc = std::stod(page.substr(label + 4));
    curves.push_back(curve);
  }
  return curves;
}

// Each curve drawn encloses the AUC its legend states: the lesion-volume curve over subjects 1,
// 2, 3, 5 (volumes 3, 2, 2, 2 voxels) as well as the held-out one.
TEST_F(ReportEvidence, EachRocCurveEnclosesTheAucItsLegendStates) {
  writePrediction("run");
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  const std::vector<DrawnCurve> curves = drawnRocCurves(readFile("rep/report.html"));
  ASSERT_EQ(curves.size(), 2u);
  for (const DrawnCurve &curve : curves) {
    EXPECT_NEAR(curve.statedAuc, 2.0 / 3.0, 1e-6);
    EXPECT_NEAR(curve.area, curve.statedAuc, 1e-3); // pixels are written to 0.1
  }
}

TEST_F(ReportEvidence, PredictionWithoutTheStudyDrawsOnlyTheHeldOutCurve) {
  writePrediction("run");
  ASSERT_EQ(runCommand(kReport + " --out rep run"), 0) << readFile("stderr.txt");
  const std::string page = readFile("rep/report.html");
  EXPECT_NE(page.find("held-out prediction, AUC 0.666667"), std::string::npos);
  EXPECT_EQ(page.find("lesion volume, AUC"), std::string::npos);
  EXPECT_NE(page.find("Give --study"), std::string::npos);
  EXPECT_NE(page.find("<th>AUC of lesion volume</th><td>0.666667</td>"), std::string::npos);
}

// Voxel 0 (corrp 0.97, gain 4, the top) is yellow; voxel 23 (corrp exactly 0.95, gain 2) half
// way, pure red; voxel 19 (0.94) stays grey although its gain is the largest.
TEST_F(ReportEvidence, GainMontageShowsTheGainWhereCorrectedPIsAtMostFivePercent) {
  std::vector<float> gain(kX * kY * kZ, 0.5f);
  std::vector<float> corrp(kX * kY * kZ, 0.0f);
  gain[0] = 4.0f;
  corrp[0] = 0.97f;
  gain[23] = 2.0f;
  corrp[23] = 0.95f;
  gain[19] = 9.0f;
  corrp[19] = 0.94f;
  writeImage("run/gain_map.nii", gain.data(), "NIFTI_TYPE_FLOAT32", kX, kY, kZ);
  writeImage("run/gain_corrp_map.nii", corrp.data(), "NIFTI_TYPE_FLOAT32", kX, kY, kZ);
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  const auto png = testsupport::decodePng("rep/gain.png");
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.width, 66);
  EXPECT_EQ(png.height, 24);
  const Rgb top = redYellowColour(1.0);
  const Rgb half = redYellowColour(0.5);
  EXPECT_EQ(png.at(28, 20), (std::vector<int>{top.r, top.g, top.b}));
  EXPECT_EQ(png.at(34 + 4, 4), (std::vector<int>{half.r, half.g, half.b}));
  const auto grey19 = png.at(34 + 4, 12);
  EXPECT_TRUE(grey19[0] == grey19[1] && grey19[1] == grey19[2]);
  EXPECT_NE(readFile("rep/report.html").find("2 voxels, 2 of them in these slices"),
            std::string::npos);
}

TEST(ReportColours, RedYellowRunsFromRedToYellow) {
  EXPECT_EQ(redYellowColour(0.0), (Rgb{160, 0, 0}));
  EXPECT_EQ(redYellowColour(0.5), (Rgb{255, 0, 0}));
  EXPECT_EQ(redYellowColour(1.0), (Rgb{255, 255, 0}));
  EXPECT_EQ(redYellowColour(7.0), (Rgb{255, 255, 0}));
}

// One broken evidence input each: status 1 and a message naming the file and what is wrong.
struct BadEvidence {
  const char *name;
  void (*prepare)();
  const char *options;
  std::vector<std::string> named;
};

class ReportBadEvidence : public ::testing::TestWithParam<BadEvidence> {};

TEST_P(ReportBadEvidence, EndsWithStatusOneNamingTheFile) {
  ScopedTempDir dir;
  mkdir("run", 0755);
  writeTwoRegionRun("run");
  writeStudy();
  GetParam().prepare();
  EXPECT_EQ(runCommand(kReport + " --out rep " + GetParam().options + " run"), 1);
  const std::string message = readFile("stderr.txt");
  for (const std::string &piece : GetParam().named)
    EXPECT_NE(message.find(piece), std::string::npos) << message;
  EXPECT_FALSE(testsupport::fileExistsOnDisk("rep/regions.csv"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReportBadEvidence,
    ::testing::Values(
        BadEvidence{"AtlasOfAnotherSize",
                    [] {
                      const std::vector<short> labels(24, 1);
                      writeImage("atlas.nii", labels.data(), "NIFTI_TYPE_INT16", 4, 6, 1);
                    },
                    "--atlas atlas.nii",
                    {"atlas atlas.nii lies on the grid 4 x 6 x 1", "run/prob_map_torvael.nii",
                     "lies on 4 x 3 x 2"}},
        BadEvidence{"AtlasPlacedElsewhere",
                    [] { writeAtlas("atlas.nii", "NIFTI_TYPE_INT16", false); },
                    "--atlas atlas.nii",
                    {"atlas atlas.nii lies on the grid 4 x 3 x 2 of 2 x 3 x 4 mm, voxel (0, 0, "
                     "0) at (-10, -20, 30) mm",
                     "run/prob_map_torvael.nii lies on 4 x 3 x 2 of 2 x 3 x 4 mm, voxel (0, 0, "
                     "0) at (10, -20, 30) mm"}},
        BadEvidence{"AtlasWithFractions",
                    [] {
                      std::vector<float> labels(24, 2.0f);
                      labels[7] = 2.5f; // (3, 1, 0)
                      labels[9] = 0.25f;
                      writeImage("atlas.nii", labels.data(), "NIFTI_TYPE_FLOAT32", kX, kY, kZ);
                    },
                    "--atlas atlas.nii",
                    {"atlas atlas.nii holds 2.5 at voxel (3, 1, 0); an atlas holds whole-number "
                     "labels only"}},
        BadEvidence{"MissingAtlas", [] {}, "--atlas atlas.nii", {"atlas.nii"}},
        BadEvidence{"MissingAtlasNames",
                    [] { writeAtlas("atlas.nii"); },
                    "--atlas atlas.nii --atlas-labels names.txt",
                    {"atlas labels file names.txt is missing"}},
        BadEvidence{"AtlasNamesWithoutIndex",
                    [] {
                      writeAtlas("atlas.nii");
                      writeFile("names.txt", "5 insula\ninsula 6\n");
                    },
                    "--atlas atlas.nii --atlas-labels names.txt",
                    {"names.txt line 2: the index \"insula\" is not a whole number"}},
        BadEvidence{"PermutationOfOtherRepresentatives",
                    [] { writePermutation("run", "23"); },
                    "",
                    {"run/permutation.tsv line 3: region 2 has representative voxel 23",
                     "run/log.el.torva has 24"}},
        BadEvidence{"PermutationOfFewerRegions",
                    [] {
                      writeFile("run/permutation.tsv", "region\trep_id\tgain\tp_fwe\tnull_mean\t"
                                                       "null_95\tpermutations\n"
                                                       "1\t2\t3.2\t0.01\t0.8\t2.1\t99\n");
                    },
                    "",
                    {"run/permutation.tsv has 1 regions", "has 2"}},
        BadEvidence{"PermutationWithBadP",
                    [] {
                      writePermutation("run");
                      testsupport::runCommand("sed -i 's/0.350000/0.35x/' run/permutation.tsv",
                                              "sed.out", "sed.err");
                    },
                    "",
                    {"run/permutation.tsv line 3: p_fwe \"0.35x\""}},
        BadEvidence{"PermutationWithBadPFweVolume",
                    [] {
                      writePermutationWithVolume("run");
                      testsupport::runCommand("sed -i 's/0.620000/1.5/' run/permutation.tsv",
                                              "sed.out", "sed.err");
                    },
                    "",
                    {"run/permutation.tsv line 3: p_fwe_volume \"1.5\""}},
        BadEvidence{"PermutationWithAnEighthColumnMissing",
                    [] {
                      writePermutationWithVolume("run");
                      testsupport::runCommand("sed -i 's/\\t0.620000$//' run/permutation.tsv",
                                              "sed.out", "sed.err");
                    },
                    "",
                    {"run/permutation.tsv line 3 has 7 fields; the header names 8"}},
        BadEvidence{"PredictionWithoutSummary",
                    [] {
                      writePrediction("run");
                      std::remove("run/prediction_summary.tsv");
                    },
                    "",
                    {"run/prediction_summary.tsv is missing, but run/prediction.tsv"}},
        BadEvidence{"PredictionSummaryWithText",
                    [] {
                      writePrediction("run");
                      testsupport::runCommand(
                          "sed -i 's/^auc\\t0.666667/auc\\t<b>/' run/prediction_summary.tsv",
                          "sed.out", "sed.err");
                    },
                    "",
                    {"run/prediction_summary.tsv line 7: auc \"<b>\" is not a valid value"}},
        BadEvidence{"PredictionOfOtherSubjects",
                    [] {
                      writePrediction("run");
                      testsupport::runCommand("sed -i 's/^3\\ts3/8\\ts3/' run/prediction.tsv",
                                              "sed.out", "sed.err");
                    },
                    "--study study.list",
                    {"run/prediction.tsv line 4 is subject 8", "study.list is subject 3"}},
        // An empty field holds no number; it was once read as 0, here a subject never held out.
        BadEvidence{"PredictionWithEmptyHeldOut",
                    [] {
                      writePrediction("run");
                      writeFile("run/prediction.tsv", "id\timage\toutcome\theldout\tp_outcome1\n"
                                                      "1\ts1.nii\t1\t\tNA\n");
                    },
                    "",
                    {"run/prediction.tsv line 2: heldout \"\" is not a valid value"}},
        BadEvidence{"PermutationWithEmptyRepresentative",
                    [] {
                      writePermutation("run");
                      testsupport::runCommand("sed -i 's/^2\t24\t/2\t\t/' run/permutation.tsv",
                                              "sed.out", "sed.err");
                    },
                    "",
                    {"run/permutation.tsv line 3: rep_id \"\""}},
        BadEvidence{"PredictionWithShortLine",
                    [] {
                      writePrediction("run");
                      writeFile("run/prediction.tsv",
                                "id\timage\toutcome\theldout\tp_outcome1\n1\ts1.nii\t1\t2\n");
                    },
                    "",
                    {"run/prediction.tsv line 2 has 4 fields"}},
        BadEvidence{"GainMapMissing",
                    [] {
                      const std::vector<float> corrp(24, 0.0f);
                      writeImage("run/gain_corrp_map.nii", corrp.data(), "NIFTI_TYPE_FLOAT32", kX,
                                 kY, kZ);
                    },
                    "",
                    {"run/gain_map.nii"}}),
    [](const ::testing::TestParamInfo<BadEvidence> &info) { return info.param.name; });

TEST(ReportOptions, AtlasOptionsAreParsedAndLabelsNeedTheAtlas) {
  ReportOptions options;
  EXPECT_EQ(parseReportOptions({"--atlas", "a.nii.gz", "--atlas-labels", "a.txt", "res"}, options),
            "");
  EXPECT_EQ(options.atlas, "a.nii.gz");
  EXPECT_EQ(options.atlasLabels, "a.txt");
  EXPECT_EQ(options.results, "res");
  EXPECT_NE(parseReportOptions({"--atlas-labels", "a.txt"}, options), "");
  EXPECT_NE(parseReportOptions({"--atlas"}, options), "");
}

} // namespace
