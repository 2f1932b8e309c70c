// The command from the outside: a hand-made result folder in, files and status out.
#include "report/report.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "report/colour_maps.h"
#include "report/result_folder.h"
#include "support/nifti_image.h"
#include "support/png_image.h"
#include "support/temp_dir.h"

namespace {

using namespace reportfixture;
using testsupport::decodePng;
using testsupport::fileExistsOnDisk;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

const std::string kReport = TORVACOREEL_REPORT_PATH;

std::vector<int> rgb(const Rgb &c) { return {c.r, c.g, c.b}; }

bool isGrey(const std::vector<int> &pixel) { return pixel[0] == pixel[1] && pixel[1] == pixel[2]; }

class ReportCommand : public ::testing::Test {
protected:
  void SetUp() override {
    mkdir("run", 0755);
    writeTwoRegionRun("run");
    writeStudy();
  }
  ScopedTempDir dir;
};

// Worked by hand from the fixture's comment. Region 1: world points (10,-20,30), (8,-20,30),
// (10,-17,30); centre (9.33, -19, 30); 3 * 24 = 72 mm^3; frequency mean 250 / 3 = 83.3. Region 2:
// (4,-17,34), (4,-14,34); 48 mm^3; mean 50. Voxel 1 is lesioned in s1 s2 s3 (outcome 1 1 0) and
// spared in s4 s5 (0 1); voxel 23 lesioned in s1 s5 (1 1), spared in s2 s3 s4 (1 0 0).
TEST_F(ReportCommand, RegionTableHoldsTheHandWorkedNumbers) {
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("rep/regions.csv"),
            "region,voxels,volume_mm3,rep_id,rep_x,rep_y,rep_z,com_x,com_y,com_z,min_x,min_y,"
            "min_z,max_x,max_y,max_z,freq_mean,freq_max,lesioned,outcome1_lesioned,spared,"
            "outcome1_spared\n"
            "1,3,72.0,2,8.0,-20.0,30.0,9.3,-19.0,30.0,8.0,-20.0,30.0,10.0,-17.0,30.0,83.3,100.0,"
            "3,2,2,1\n"
            "2,2,48.0,24,4.0,-14.0,34.0,4.0,-15.5,34.0,4.0,-17.0,34.0,4.0,-14.0,34.0,50.0,75.0,"
            "2,2,3,1\n");
  const std::string out = readFile("stdout.txt");
  EXPECT_NE(out.find("2 (66.7%)"), std::string::npos) << out;
  EXPECT_NE(out.find("1 (33.3%)"), std::string::npos) << out;
  EXPECT_NE(out.find("rep/report.html"), std::string::npos) << out;
}

TEST_F(ReportCommand, WithoutTheStudyTheOutcomeColumnsAreLeftOut) {
  ASSERT_EQ(runCommand(kReport + " --out rep run"), 0) << readFile("stderr.txt");
  const std::string csv = readFile("rep/regions.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "region,voxels,volume_mm3,rep_id,rep_x,rep_y,rep_z,com_x,com_y,com_z,min_x,min_y,"
            "min_z,max_x,max_y,max_z,freq_mean,freq_max");
  EXPECT_EQ(testsupport::countOf(csv, "\n"), 3);
}

// Both slices hold regions: two tiles of 4 x 3 voxels drawn 8 pixels wide (240 / 4 = 60, capped
// at 8), side by side with a 2-pixel gap: 2 * 32 + 2 = 66 by 3 * 8 = 24. Slice k = 0 (z = 30 mm)
// is the left tile. Anterior (large j) is up, so row j = 0 is pixels 16..23.
TEST_F(ReportCommand, MontagesHaveTheSizeAndRegionColoursOfTheGrid) {
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  const auto axial = decodePng("rep/axial.png");
  const auto frequency = decodePng("rep/frequency.png");
  ASSERT_TRUE(axial.ok && frequency.ok);
  EXPECT_EQ(axial.width, 66);
  EXPECT_EQ(axial.height, 24);
  EXPECT_EQ(frequency.width, 66);
  EXPECT_EQ(frequency.height, 24);
  // LAS: i = 1 is column 4 - 1 - 1 = 2, pixels 16..23 of the left tile.
  EXPECT_EQ(axial.at(20, 20), rgb(regionColour(1)));
  // Voxel 23 = (3, 2, 1): right tile starts at 34; i = 3 is column 0; j = 2 is the top row.
  EXPECT_EQ(axial.at(34 + 4, 4), rgb(regionColour(2)));
  EXPECT_NE(regionColour(1), regionColour(2));
  EXPECT_EQ(frequency.at(20, 20), rgb(viridisColour(1.0)));      // voxel 1: 100 %
  EXPECT_EQ(frequency.at(28, 12), rgb(viridisColour(0.5)));      // voxel 4 = (0, 1, 0): 50 %
  EXPECT_EQ(frequency.at(34 + 4, 12), rgb(viridisColour(0.25))); // voxel 19 = (3, 1, 1)
  // Outside the regions the lesion overlap shows in grey: voxel 10 = (2, 2, 0) holds all five
  // subjects and is the brightest; voxel 2 = (2, 0, 0) holds none.
  EXPECT_TRUE(isGrey(axial.at(12, 4)));
  EXPECT_TRUE(isGrey(axial.at(12, 20)));
  EXPECT_GT(axial.at(12, 4)[0], axial.at(12, 20)[0]);
}

// Voxel 0 lies at x = +10 mm (the subject's right) in the LAS grid and at x = -10 mm (left) in the
// RAS grid. The subject's left is drawn on the left, so voxel 0 (region 1) is the rightmost
// column (pixels 24..31) of the first tile for LAS and the leftmost (0..7) for RAS.
TEST_F(ReportCommand, SubjectsLeftIsOnTheLeftForLasAndRasGrids) {
  ASSERT_EQ(runCommand(kReport + " --out las run"), 0) << readFile("stderr.txt");
  writeTwoRegionRun("run", false);
  ASSERT_EQ(runCommand(kReport + " --out ras run"), 0) << readFile("stderr.txt");
  const auto las = decodePng("las/axial.png");
  const auto ras = decodePng("ras/axial.png");
  ASSERT_TRUE(las.ok && ras.ok);
  EXPECT_EQ(las.at(28, 20), rgb(regionColour(1)));
  EXPECT_TRUE(isGrey(las.at(4, 20)));
  EXPECT_EQ(ras.at(4, 20), rgb(regionColour(1)));
  EXPECT_TRUE(isGrey(ras.at(28, 20)));
  const std::string page = readFile("las/report.html");
  EXPECT_NE(page.find("z = 30.0 mm"), std::string::npos);
  EXPECT_NE(page.find("z = 34.0 mm"), std::string::npos);
}

// The HTML parser of xmllint knows no SVG element names; those complaints are the only ones
// allowed.
std::string unexpectedLintMessages(const std::string &messages) {
  static const std::set<std::string> svgNames = {"svg",  "defs",           "marker", "path",
                                                 "line", "rect",           "text",   "title",
                                                 "stop", "lineargradient", "g",      "circle"};
  const std::string error = "HTML parser error : ";
  const std::string tag = "Tag ";
  const std::string invalid = " invalid";
  std::string unexpected;
  std::istringstream lines(messages);
  std::string line;
  while (std::getline(lines, line)) {
    const auto at = line.find(error);
    if (at == std::string::npos)
      continue;
    const std::string what = line.substr(at + error.size());
    const bool svgTag =
        what.size() > tag.size() + invalid.size() && what.compare(0, tag.size(), tag) == 0 &&
        what.compare(what.size() - invalid.size(), invalid.size(), invalid) == 0 &&
        svgNames.count(what.substr(tag.size(), what.size() - tag.size() - invalid.size())) == 1;
    if (!svgTag)
      unexpected += what + "\n";
  }
  return unexpected;
}

// Values of every src="..." and href="..." attribute of `page` that is not an in-page anchor.
std::vector<std::string> referencedFiles(const std::string &page) {
  std::vector<std::string> files;
  for (const std::string attribute : {" src=\"", " href=\""}) {
    for (auto at = page.find(attribute); at != std::string::npos;
         at = page.find(attribute, at + 1)) {
      const auto begin = at + attribute.size();
      const std::string target = page.substr(begin, page.find('"', begin) - begin);
      if (target.empty() || target[0] != '#')
        files.push_back(target);
    }
  }
  return files;
}

TEST_F(ReportCommand, PageParsesAsHtmlAndEveryReferencedFileExists) {
  ASSERT_EQ(runCommand(kReport + " --study study.list --out rep run"), 0) << readFile("stderr.txt");
  ASSERT_EQ(runCommand("xmllint --html --noout rep/report.html"), 0);
  // The filter passes over the parser's unknown SVG tags only, never a real complaint.
  ASSERT_EQ(unexpectedLintMessages("a.html:1: HTML parser error : Tag svg invalid\n"), "");
  ASSERT_NE(unexpectedLintMessages("a.html:1: HTML parser error : Unexpected end tag : div\n"), "");
  EXPECT_EQ(unexpectedLintMessages(readFile("stderr.txt")), "");
  const std::string page = readFile("rep/report.html");
  int references = 0;
  for (const std::string &target : referencedFiles(page)) {
    EXPECT_EQ(target.find("://"), std::string::npos) << target; // nothing from the network
    EXPECT_TRUE(fileExistsOnDisk("rep/" + target)) << target;
    ++references;
  }
  EXPECT_EQ(references, 3); // axial.png, frequency.png, regions.csv
  // The network's marginal tables: 0.2 * 0.6 + 0.5 * 0.4 = 0.32 and 0.6 * 0.6 + 0.9 * 0.4 = 0.72.
  EXPECT_NE(page.find("spared: P(outcome 1) = 0.320"), std::string::npos);
  EXPECT_NE(page.find("lesioned: P(outcome 1) = 0.720"), std::string::npos);
  EXPECT_NE(page.find("<td>jackknife</td>"), std::string::npos);
  EXPECT_NE(page.find("--study study.list --out rep run"), std::string::npos);
}

TEST(ReportZeroRegions, ReportSaysSoAndStillDrawsTheSlices) {
  ScopedTempDir dir;
  mkdir("run", 0755);
  writeEmptyRun("run");
  ASSERT_EQ(runCommand(kReport + " --out rep run"), 0) << readFile("stderr.txt");
  EXPECT_EQ(testsupport::countOf(readFile("rep/regions.csv"), "\n"), 1);
  EXPECT_NE(readFile("stdout.txt").find("no regions"), std::string::npos);
  EXPECT_NE(readFile("rep/report.html").find("This run found no regions"), std::string::npos);
  const auto axial = decodePng("rep/axial.png");
  ASSERT_TRUE(axial.ok);
  EXPECT_EQ(axial.width, 66); // both slices, as no slice holds a region
}

// One broken input each: status 1 and a message naming the file at fault.
struct BadInput {
  const char *name;
  const char *prepare; // shell command run in the test folder before the report
  const char *options;
  const char *named;
};

class ReportBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(ReportBadInput, EndsWithStatusOneNamingTheFile) {
  ScopedTempDir dir;
  mkdir("run", 0755);
  writeTwoRegionRun("run");
  writeStudy();
  ASSERT_EQ(runCommand(GetParam().prepare, "prep.out", "prep.err"), 0);
  EXPECT_EQ(runCommand(kReport + " --out rep " + GetParam().options + " run"), 1);
  EXPECT_NE(readFile("stderr.txt").find(GetParam().named), std::string::npos)
      << readFile("stderr.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReportBadInput,
    ::testing::Values(
        BadInput{"MissingRoi", "rm run/roi.el.torva", "", "run/roi.el.torva"},
        BadInput{"ShortRoi", "printf '2 24\\n1 1 0 ' > run/roi.el.torva", "", "run/roi.el.torva"},
        BadInput{"ShortModel", "printf 'model ensemble includes\\n2 \\n' > run/model.el.torva", "",
                 "run/model.el.torva"},
        BadInput{"ShortNetwork", "printf '3\\n2 2 2 \\n0 \\n' > run/bn.el.torva", "",
                 "run/bn.el.torva"},
        BadInput{"MissingFrequencyMap", "rm run/prob_map_torvael.nii", "",
                 "run/prob_map_torvael.nii"},
        BadInput{"RSetShorterThanVariables", "sed -i 's/^2 1 23 $/1 1 /' run/log.el.torva", "",
                 "run/log.el.torva"},
        BadInput{"LabelsOfMoreRegionsThanTheNetwork", "sed -i '1s/^2 24/3 24/' run/roi.el.torva",
                 "", "run/roi.el.torva"},
        BadInput{"StudyOnAnotherGrid", "sed -i 's/size 4 3 2/size 4 6 1/' study.list",
                 "--study study.list", "4 x 6 x 1"},
        BadInput{"StudyOfOtherSubjects", "sed -i 's/subjects 5/subjects 4/' study.list",
                 "--study study.list", "study.list holds 4 subjects"},
        BadInput{"MissingSubjectImage", "rm s3.nii", "--study study.list", "s3.nii"},
        BadInput{"MissingBackground", "true", "--background t1.nii", "t1.nii"}),
    [](const ::testing::TestParamInfo<BadInput> &info) { return info.param.name; });

// A compressed template: its intensities, not the overlap, make the grey. Voxel 2 = (2, 0, 0) is
// the brightest (pixels 8..15 across, 16..23 down in the first tile), voxel 3 = (3, 0, 0) black.
TEST_F(ReportCommand, CompressedTemplateIsTheBackground) {
  std::vector<double> intensity(24, 10.0);
  intensity[2] = 900.0;
  intensity[3] = 0.0;
  ASSERT_TRUE(testsupport::writeTestImage("t1.nii.gz", DT_FLOAT32, 4, 3, 2, intensity));
  ASSERT_EQ(runCommand(kReport + " --background t1.nii.gz --study study.list --out rep run"), 0)
      << readFile("stderr.txt");
  const auto axial = decodePng("rep/axial.png");
  ASSERT_TRUE(axial.ok);
  EXPECT_EQ(axial.at(12, 20), (std::vector<int>{235, 235, 235}));
  EXPECT_EQ(axial.at(4, 20), (std::vector<int>{20, 20, 20}));
  EXPECT_NE(readFile("rep/report.html").find("template t1.nii.gz"), std::string::npos);
}

// Images on a 4 x 6 x 1 grid against the 4 x 3 x 2 results: both sizes are named.
TEST(ReportGridMismatch, BackgroundAndFrequencyMapMustMatchTheResultGrid) {
  ScopedTempDir dir;
  mkdir("run", 0755);
  writeTwoRegionRun("run");
  const std::vector<float> other(24, 1.0f);
  writeImage("t1.nii", other.data(), "NIFTI_TYPE_FLOAT32", 4, 6, 1);
  EXPECT_EQ(runCommand(kReport + " --background t1.nii run"), 1);
  std::string message = readFile("stderr.txt");
  EXPECT_NE(message.find("t1.nii is 4 x 6 x 1"), std::string::npos) << message;
  EXPECT_NE(message.find("is 4 x 3 x 2"), std::string::npos) << message;

  writeImage("run/prob_map_torvael.nii", other.data(), "NIFTI_TYPE_FLOAT32", 2, 3, 2);
  EXPECT_EQ(runCommand(kReport + " run"), 1);
  message = readFile("stderr.txt");
  EXPECT_NE(message.find("run/roi.el.torva labels 24 voxels"), std::string::npos) << message;
  EXPECT_NE(message.find("run/prob_map_torvael.nii is 2 x 3 x 2 = 12 voxels"), std::string::npos)
      << message;
}

TEST(ReportOptions, ParsesOptionsAndTheResultsFolder) {
  ReportOptions options;
  EXPECT_EQ(parseReportOptions({"--study", "a.list", "res", "--out", "o"}, options), "");
  EXPECT_EQ(options.study, "a.list");
  EXPECT_EQ(options.results, "res");
  EXPECT_EQ(options.out, "o");
  EXPECT_EQ(options.background, "");
  EXPECT_EQ(parseReportOptions({}, options), "");
  EXPECT_EQ(options.results, ".");
  EXPECT_EQ(options.out, "report");
  EXPECT_NE(parseReportOptions({"--out"}, options), "");
  EXPECT_NE(parseReportOptions({"--colour", "x"}, options), "");
  EXPECT_NE(parseReportOptions({"a", "b"}, options), "");
  // "--opt=value" as well; an empty value is refused as a missing one.
  EXPECT_EQ(parseReportOptions({"--out=o2", "--study=b.list"}, options), "");
  EXPECT_EQ(options.out, "o2");
  EXPECT_EQ(options.study, "b.list");
  EXPECT_NE(parseReportOptions({"--out="}, options).find("--out needs a value"), std::string::npos);
}

TEST(ReportOptions, UsageErrorsEndWithStatusTwo) {
  ScopedTempDir dir;
  EXPECT_EQ(runCommand(kReport + " --bogus"), 2);
  EXPECT_NE(readFile("stderr.txt").find("usage"), std::string::npos);
}

} // namespace
