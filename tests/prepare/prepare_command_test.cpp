// torvacoreel-prepare run as users run it, on a small participants table with compressed masks.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "prepare/mask_fixtures.h"
#include "support/temp_dir.h"

namespace {

using preparetest::readImage;
using preparetest::TestAffine;
using preparetest::voxelsOf;
using preparetest::writeMask;
using testsupport::fileExistsOnDisk;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

const std::string kPrepare = TORVACOREEL_PREPARE_PATH;
const double kNaN = std::nan("");

// Voxel lists on a 5 x 4 x 3 grid (index x + 5 (y + 4 z)), one value per listed voxel.
std::vector<double> maskValues(const std::vector<int> &voxels, double value) {
  std::vector<double> values(60, 0.0);
  for (const int v : voxels)
    values[v] = value;
  return values;
}

// Four usable subjects and one without a score:
//   sub-01 uint8 {0, 1}, rankin 4 -> 1     sub-03 int16 {1, 2, 3} = 100, rankin 1 -> 0
//   sub-04 float {1} = 0.4, {59} = 0.9, {10} = NaN, rankin 3 -> 1
//   sub-05 uint8 {1, 30}, rankin 0 -> 0
// Voxel 1 is lesioned in all four; 0, 2, 3, 30 and 59 in one each.
void writeLayout() {
  mkdir("data", 0755);
  mkdir("data/masks", 0755);
  writeFile("data/participants.tsv", "participant_id\tage\trankin\r\n"
                                     "sub-01\t50\t4\r\n"
                                     "sub-02\t61\tn/a\r\n"
                                     "sub-03\t70\t1\r\n"
                                     "sub-04\t55\t3\r\n"
                                     "sub-05\t48\t0\r\n");
  ASSERT_TRUE(
      writeMask("data/masks/sub-01_lesion.nii.gz", DT_UINT8, 5, 4, 3, maskValues({0, 1}, 1)));
  ASSERT_TRUE(
      writeMask("data/masks/sub-03_lesion.nii.gz", DT_INT16, 5, 4, 3, maskValues({1, 2, 3}, 100)));
  std::vector<double> sub04 = maskValues({1}, 0.4);
  sub04[59] = 0.9;
  sub04[10] = kNaN;
  ASSERT_TRUE(writeMask("data/masks/sub-04_lesion.nii.gz", DT_FLOAT32, 5, 4, 3, sub04));
  ASSERT_TRUE(
      writeMask("data/masks/sub-05_lesion.nii.gz", DT_UINT8, 5, 4, 3, maskValues({1, 30}, 1)));
}

int prepare(const std::string &extra) {
  return runCommand(kPrepare + " --table data/participants.tsv --id-column participant_id" +
                    " --image 'masks/{id}_lesion.nii.gz' --outcome-column rankin --above 2" +
                    " --out study " + extra);
}

TEST(PrepareCommand, WritesListSubjectsImagesOverlapAndSummary) {
  ScopedTempDir dir;
  writeLayout();
  ASSERT_EQ(prepare(""), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("stderr.txt"), "warning: table data/participants.tsv, line 3 (sub-02): "
                                    "outcome 'n/a' is missing; row skipped\n");
  // Volumes 2, 3, 2, 2 voxels of 2 mm (8 mm3).
  EXPECT_EQ(readFile("stdout.txt"),
            "subjects: 4 kept, 1 skipped of 5 rows (outcome missing or not a number: 1, mask "
            "missing: 0, no id: 0)\n"
            "outcome 1: 2 of 4 subjects\n"
            "masks not already 0/1: 2 (lesioned where value > 0)\n"
            "grid: 5 x 4 x 3 voxels of 8 mm3\n"
            "lesion volume in voxels: median 2, min 2, max 3\n"
            "lesion volume in mm3: median 16, min 16, max 24\n"
            "voxels lesioned in at least one subject: 6; largest overlap: 4 subjects\n"
            "voxels lesioned in more than a fifth of the subjects: 6\n"
            "voxels lesioned in more than 5 % of the subjects: 6\n"
            "voxels lesioned in more than 10 % of the subjects: 6\n"
            "voxels lesioned in more than 20 % of the subjects: 6\n"
            "next: cd study && torvacoreel torva.prj.filelist 1 0\n");
  EXPECT_EQ(readFile("study/torva.prj.filelist"), "subjects 4\nnodes 61\nsize 5 4 3\nid file fv\n"
                                                  "1 img/sub-01.nii 1\n"
                                                  "3 img/sub-03.nii 0\n"
                                                  "4 img/sub-04.nii 1\n"
                                                  "5 img/sub-05.nii 0\n");
  EXPECT_EQ(readFile("study/subjects.tsv"), "list_id\tid\tmask\toutcome_value\toutcome\n"
                                            "1\tsub-01\tdata/masks/sub-01_lesion.nii.gz\t4\t1\n"
                                            "3\tsub-03\tdata/masks/sub-03_lesion.nii.gz\t1\t0\n"
                                            "4\tsub-04\tdata/masks/sub-04_lesion.nii.gz\t3\t1\n"
                                            "5\tsub-05\tdata/masks/sub-05_lesion.nii.gz\t0\t0\n");

  const auto sub04 = readImage("study/img/sub-04.nii");
  ASSERT_NE(sub04, nullptr);
  EXPECT_EQ(sub04->datatype, DT_UINT8);
  EXPECT_EQ(sub04->scl_slope, 1.0f);
  EXPECT_EQ(sub04->sform_code, NIFTI_XFORM_MNI_152);
  EXPECT_EQ(sub04->qform_code, NIFTI_XFORM_SCANNER_ANAT);
  EXPECT_FLOAT_EQ(sub04->dx, 2.0f);
  EXPECT_FLOAT_EQ(sub04->sto_xyz.m[1][3], -126.0f);
  EXPECT_FLOAT_EQ(sub04->qto_xyz.m[2][3], -72.0f);
  const std::vector<int> expected04 = [] {
    std::vector<int> v(60, 0);
    v[1] = v[59] = 1; // NaN at 10 stays 0
    return v;
  }();
  EXPECT_EQ(voxelsOf(*sub04), expected04);
  EXPECT_EQ(voxelsOf(*readImage("study/img/sub-03.nii")), [] {
    std::vector<int> v(60, 0);
    v[1] = v[2] = v[3] = 1;
    return v;
  }());

  const auto overlap = readImage("study/overlap.nii");
  ASSERT_NE(overlap, nullptr);
  EXPECT_EQ(overlap->datatype, DT_INT16);
  std::vector<int> counts(60, 0);
  counts[1] = 4;
  counts[0] = counts[2] = counts[3] = counts[30] = counts[59] = 1;
  EXPECT_EQ(voxelsOf(*overlap), counts);
}

// 5 x 4 x 3 pooled by two is 3 x 2 x 2 (odd extents round up). Old voxels 0,1 -> 0; 2,3 -> 1;
// 30 = (0,2,1) -> (0,1,0) = 3; 59 = (4,3,2) -> (2,1,1) = 11.
TEST(PrepareCommand, DownsamplingPoolsVoxelsAndMovesTheGrid) {
  ScopedTempDir dir;
  writeLayout();
  ASSERT_EQ(prepare("--downsample 2"), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("study/torva.prj.filelist").substr(0, 31),
            "subjects 4\nnodes 13\nsize 3 2 2\n");
  const auto overlap = readImage("study/overlap.nii");
  ASSERT_NE(overlap, nullptr);
  std::vector<int> counts(12, 0);
  counts[0] = 4;
  counts[1] = counts[3] = counts[11] = 1;
  EXPECT_EQ(voxelsOf(*overlap), counts);
  const auto image = readImage("study/img/sub-05.nii");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->nx, 3);
  EXPECT_FLOAT_EQ(image->dx, 4.0f);
  EXPECT_FLOAT_EQ(image->dz, 4.0f);
  // Centre of the first new voxel: the mean of old centres (-90|-88, -126|-124, -72|-70).
  for (const mat44 *m : {&image->sto_xyz, &image->qto_xyz}) {
    EXPECT_FLOAT_EQ(m->m[0][3], -89.0f);
    EXPECT_FLOAT_EQ(m->m[1][3], -125.0f);
    EXPECT_FLOAT_EQ(m->m[2][3], -71.0f);
    EXPECT_FLOAT_EQ(m->m[0][0], 4.0f);
  }
  EXPECT_NE(readFile("stdout.txt").find("lesion volume in voxels: median 2, min 1, max 2\n"),
            std::string::npos);
  EXPECT_NE(readFile("stdout.txt").find("grid: 3 x 2 x 2 voxels of 64 mm3\n"), std::string::npos);
}

TEST(PrepareCommand, RefusesANonEmptyOutputFolderUnlessForced) {
  ScopedTempDir dir;
  writeLayout();
  mkdir("study", 0755);
  writeFile("study/notes.txt", "mine");
  EXPECT_EQ(prepare(""), 1);
  EXPECT_EQ(readFile("stderr.txt"), "torvacoreel-prepare: output folder study is not empty (1 "
                                    "entries); give --force to write into it\n");
  EXPECT_FALSE(fileExistsOnDisk("study/torva.prj.filelist"));
  EXPECT_EQ(prepare("--force"), 0) << readFile("stderr.txt");
  EXPECT_TRUE(fileExistsOnDisk("study/torva.prj.filelist"));
}

// The images of a study are replaced as one folder: an image of a subject the new table drops
// does not stay behind to be mistaken for part of the study. Other files of the folder stay.
TEST(PrepareCommand, ForceReplacesTheImageFolderAsAWholeAndKeepsOtherFiles) {
  ScopedTempDir dir;
  writeLayout();
  ASSERT_EQ(prepare(""), 0) << readFile("stderr.txt");
  writeFile("study/notes.txt", "mine");
  ASSERT_TRUE(fileExistsOnDisk("study/img/sub-05.nii"));
  std::string table = readFile("data/participants.tsv");
  table.erase(table.find("sub-05"));
  writeFile("data/participants.tsv", table);
  EXPECT_EQ(prepare("--force"), 0) << readFile("stderr.txt");
  EXPECT_FALSE(fileExistsOnDisk("study/img/sub-05.nii"));
  EXPECT_TRUE(fileExistsOnDisk("study/img/sub-04.nii"));
  EXPECT_EQ(readFile("study/notes.txt"), "mine");
  EXPECT_EQ(readFile("study/torva.prj.filelist").substr(0, 11), "subjects 3\n");
  for (const auto &entry : std::filesystem::directory_iterator("study"))
    EXPECT_NE(entry.path().filename().string().rfind(".torva-", 0), 0u) << entry.path();
}

TEST(PrepareCommand, RefusesMismatchedGridsBeforeWritingAnything) {
  ScopedTempDir dir;
  writeLayout();
  TestAffine shifted;
  shifted.oz += 1.0f;
  ASSERT_TRUE(
      writeMask("data/masks/sub-04_lesion.nii.gz", DT_UINT8, 5, 4, 3, maskValues({1}, 1), shifted));
  EXPECT_EQ(prepare(""), 1);
  EXPECT_EQ(testsupport::countOf(readFile("stderr.txt"),
                                 "torvacoreel-prepare: mask data/masks/sub-04_lesion.nii.gz has "
                                 "the voxel-to-world affine [2 0 0 -90; 0 2 0 -126; 0 0 2 -71]; "
                                 "the first mask data/masks/sub-01_lesion.nii.gz has [2 0 0 -90; "
                                 "0 2 0 -126; 0 0 2 -72] (they must agree to 0.001 mm) (table "
                                 "line 5, id sub-04)\n"),
            1);
  EXPECT_FALSE(fileExistsOnDisk("study"));
}

TEST(PrepareCommand, RefusesUnreadableMasksAndBadArguments) {
  ScopedTempDir dir;
  writeLayout();
  writeFile("data/masks/sub-03_lesion.nii.gz", "truncated");
  EXPECT_EQ(prepare(""), 1);
  EXPECT_NE(readFile("stderr.txt")
                .find("torvacoreel-prepare: mask data/masks/sub-03_lesion.nii.gz cannot be read "
                      "as a NIfTI-1 or Analyze image (table line 4, id sub-03)\n"),
            std::string::npos);
  EXPECT_EQ(prepare("--below 2"), 2);
  EXPECT_EQ(readFile("stderr.txt").substr(0, 63),
            "torvacoreel-prepare: give only one of --above and --below\nusage");
  EXPECT_EQ(runCommand(kPrepare + " --table data/participants.tsv --out study"), 2);
}

// From the example generator's participants layout to a finished analysis.
TEST(PrepareCommand, PreparedStudyRunsThroughTheAnalysis) {
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out data --subjects 16 --size 8 8 6 --layout participants"),
            0);
  EXPECT_FALSE(fileExistsOnDisk("data/torva.prj.filelist"));
  EXPECT_FALSE(fileExistsOnDisk("data/s001.nii"));
  ASSERT_EQ(runCommand(kPrepare + " --table data/participants.tsv --id-column participant_id" +
                       " --image 'masks/{id}_lesion.nii.gz' --outcome-column rankin --above 2" +
                       " --skip-missing --out study"),
            0)
      << readFile("stderr.txt");
  // Of 18 rows, sub-010 has no score and sub-017, sub-018 no mask.
  EXPECT_EQ(readFile("stdout.txt").substr(0, 34), "subjects: 15 kept, 3 skipped of 18");
  ASSERT_EQ(chdir("study"), 0);
  EXPECT_EQ(runCommand(std::string(TORVACOREEL_PATH) + " torva.prj.filelist 1 0"), 0)
      << readFile("stderr.txt");
  EXPECT_TRUE(fileExistsOnDisk("roi.el.torva"));
  EXPECT_TRUE(fileExistsOnDisk("label_field_torvael.nii"));
  ASSERT_EQ(chdir(".."), 0);
}

} // namespace

namespace {

// Five subjects, each lesioned in two voxels of its own: the largest overlap is 1, and a
// representative voxel must be lesioned in more than 1 (5 / 5) of them. A share of 5 % or 10 %
// (bound 0) lets all ten voxels pass; any share below 1 / 5 would.
TEST(PrepareCommand, WarnsWhenNoVoxelIsLesionedInMoreThanAFifthOfTheSubjects) {
  ScopedTempDir dir;
  mkdir("data", 0755);
  mkdir("data/masks", 0755);
  std::string table = "participant_id\trankin\n";
  for (int s = 1; s <= 5; ++s) {
    const std::string id = "sub-0" + std::to_string(s);
    table += id + "\t" + std::to_string(s % 2 == 0 ? 4 : 1) + "\n";
    ASSERT_TRUE(writeMask("data/masks/" + id + "_lesion.nii.gz", DT_UINT8, 5, 4, 3,
                          maskValues({s, 10 + s}, 1)));
  }
  writeFile("data/participants.tsv", table);
  ASSERT_EQ(prepare(""), 0) << readFile("stderr.txt");
  EXPECT_NE(readFile("stdout.txt")
                .find("voxels lesioned in at least one subject: 10; largest "
                      "overlap: 1 subjects\n"
                      "voxels lesioned in more than a fifth of the subjects: 0\n"
                      "voxels lesioned in more than 5 % of the subjects: 10\n"
                      "voxels lesioned in more than 10 % of the subjects: 10\n"
                      "voxels lesioned in more than 20 % of the subjects: 0\n"),
            std::string::npos)
      << readFile("stdout.txt");
  EXPECT_EQ(readFile("stderr.txt"),
            "warning: no voxel is lesioned in more than a fifth of the 5 subjects: the largest "
            "lesion overlap is 1, and a representative voxel must be lesioned in at least 2; "
            "regions can only be found where that many subjects share a lesion, for example in a "
            "subgroup with lesions in one territory, or with a smaller share: set "
            "representativeShare below 0.200 in torva.configure to let the largest overlap pass "
            "(each representative voxel then stands for fewer subjects)\n");
  // The study is written all the same.
  EXPECT_TRUE(fileExistsOnDisk("study/torva.prj.filelist"));
  EXPECT_TRUE(fileExistsOnDisk("study/img/sub-05.nii"));
}

} // namespace
