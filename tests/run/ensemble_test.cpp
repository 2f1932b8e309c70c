#include "results/model_record.h"
#include "results/result_transaction.h"
#include "run/ensemble.h"
#include "run/resampling_method.h"

#include "data/decoded_study.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <nifti1_io.h>

#include "bn/bn.h"
#include "data/samples.h"
#include "support/temp_dir.h"

namespace {

using testsupport::fileExistsOnDisk;
using testsupport::readFile;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

ModelRecord record(int iteration, const std::vector<int> &ids) {
  return makeModelRecord(iteration, ids);
}

// A 3 x 2 x 1 subject map with a 2 mm template geometry.
void writeSubject(const std::string &path, const std::vector<unsigned char> &voxels) {
  int dims[8] = {3, 3, 2, 1, 1, 1, 1, 1};
  nifti_image *image = nifti_make_new_nim(dims, DT_UINT8, 1);
  std::memcpy(image->data, voxels.data(), voxels.size());
  image->dx = image->pixdim[1] = 2.0f;
  image->dy = image->pixdim[2] = 2.0f;
  image->dz = image->pixdim[3] = 2.0f;
  image->xyz_units = NIFTI_UNITS_MM;
  image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
  image->sform_code = NIFTI_XFORM_MNI_152;
  image->qoffset_x = -2.0f;
  image->qoffset_y = -4.0f;
  image->qoffset_z = 6.0f;
  image->qfac = 1.0f;
  image->qto_xyz =
      nifti_quatern_to_mat44(0, 0, 0, -2.0f, -4.0f, 6.0f, 2.0f, 2.0f, 2.0f, image->qfac);
  image->sto_xyz = image->qto_xyz;
  ASSERT_EQ(nifti_set_filenames(image, path.c_str(), 0, 1), 0);
  nifti_image_write(image);
  nifti_image_free(image);
}

// Four subjects of six voxels. The mode is the model of voxels 2 and 5 (nodes 1 and 4), found
// in iterations 0 and 2 in that order and in iteration 1 in the other order; iteration 3 found
// voxel 3 alone.
//   node 1: 1 1 0 0   node 4: 1 0 1 0   fv: 1 1 0 0
class EnsembleRun : public ::testing::Test {
protected:
  void SetUp() override {
    writeSubject("s1.nii", {0, 1, 0, 0, 1, 0});
    writeSubject("s2.nii", {0, 1, 0, 0, 0, 0});
    writeSubject("s3.nii", {0, 0, 0, 0, 1, 0});
    writeSubject("s4.nii", {0, 0, 0, 0, 0, 0});
    writeFile("list.txt", "subjects 4\nnodes 7\nsize 3 2 1\nid file fv\n"
                          "1 s1.nii 1\n2 s2.nii 1\n3 s3.nii 0\n4 s4.nii 0\n");
    records = {record(0, {2, 5}), record(1, {5, 2}), record(2, {2, 5}), record(3, {3})};
    lastLabels = {-9, -1, -1, 1, -1, -9};
    fields = {encodeLabelRuns({-9, 1, -1, -1, 2, -9}),
              encodeLabelRuns({-9, 2, -1, 1, 1, -9}), // its region 1 is the mode's region 2
              encodeLabelRuns({-9, 1, 1, -1, -1, -9}), encodeLabelRuns(lastLabels)};
  }

  void run() {
    DecodedStudy study;
    ASSERT_FALSE(static_cast<bool>(decodeStudy("list.txt", 2, study)));
    BN bn;
    ResultTransaction results;
    ASSERT_EQ(results.open(), "");
    runEnsemble(records, fields, 4, study, "list.txt", static_cast<long>(lastLabels.size()), bn,
                results, HeldOutRun{kJackknife, {}});
  }

  ScopedTempDir dir;
  std::vector<ModelRecord> records;
  std::vector<LabelRuns> fields;
  std::vector<int> lastLabels;
};

TEST_F(EnsembleRun, WritesEveryResultFileOfTheMode) {
  ::testing::internal::CaptureStdout();
  run();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "model=0, frq=3\nmodel=3, frq=1\nthe model mode is #0, including 0 1 2 \n"
            "subject 1, file=s1.nii, fv=1\nsubject 2, file=s2.nii, fv=1\n"
            "subject 3, file=s3.nii, fv=0\nsubject 4, file=s4.nii, fv=0\n");

  EXPECT_EQ(readFile("model.el.torva"), "model ensemble includes\n2 \ndifferent models\n"
                                        "model with highest frequency is model \n0 \nfreq=\n"
                                        "0.750000\nmodel freq=\n0.250000 0.750000 \n");
  EXPECT_EQ(readFile("log.el.torva"), "Variable_list\n1\n1 1 0 0 \n4\n1 0 1 0 \nfv\n1 1 0 0 \n"
                                      "R-SET\n2 1 4 \n");
  // fv given (node 1, node 4): configurations 0..3 seen with fv 0, 1, 0, 1 once each, so
  // (1+1)/3 for the seen state and 1/3 for the other.
  EXPECT_EQ(readFile("bn.el.torva"), "3\n2 2 2 \n0 \n0 \n2 0 1 \n2 0.5 0.5 \n2 0.5 0.5 \n"
                                     "8 0.666667 0.333333 0.666667 0.333333 0.333333 0.666667 "
                                     "0.333333 0.666667 \n");
  const std::string xdsl = readFile("bn.el.xdsl");
  EXPECT_NE(xdsl.find("<parents>node1 node0</parents>"), std::string::npos) << xdsl;

  // Votes of members 0, 1, 2 (member 1 translated): voxel 1 region 1 three times, voxel 4
  // region 2 twice, voxels 2 and 3 a region once only.
  EXPECT_EQ(readFile("roi.el.torva"), "2 6\n0 1 0 0 2 0 \n");
  nifti_image *labels = nifti_image_read("label_field_torvael.nii", 1);
  nifti_image *map = nifti_image_read("prob_map_torvael.hdr", 1);
  nifti_image *subject = nifti_image_read("s1.nii", 0);
  ASSERT_NE(labels, nullptr);
  ASSERT_NE(map, nullptr);
  ASSERT_NE(subject, nullptr);
  EXPECT_EQ(std::memcmp(labels->data, "\0\1\0\0\2\0", 6), 0);
  const float *percent = static_cast<const float *>(map->data);
  EXPECT_EQ(std::vector<float>(percent, percent + 6),
            (std::vector<float>{0.0f, 100.0f, 0.0f, 0.0f, 66.0f, 0.0f}));
  for (const nifti_image *image : {labels, map}) {
    EXPECT_EQ(image->nx, 3);
    EXPECT_EQ(image->ny, 2);
    EXPECT_EQ(image->nz, 1);
    EXPECT_EQ(image->scl_slope, 1.0f);
    EXPECT_EQ(image->sform_code, NIFTI_XFORM_MNI_152);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c)
        EXPECT_FLOAT_EQ(image->sto_xyz.m[r][c], subject->sto_xyz.m[r][c]);
  }
  nifti_image_free(labels);
  nifti_image_free(map);
  nifti_image_free(subject);
  for (const char *name : {"label_field_torvael.hdr", "label_field_torvael.img",
                           "prob_map_torvael.img", "prob_map_torvael.nii"})
    EXPECT_TRUE(fileExistsOnDisk(name)) << name;
}

TEST_F(EnsembleRun, ResultsWithoutAnyRegionStillDescribeTheFunctionVariable) {
  records = {record(0, {}), record(1, {}), record(2, {3}), record(3, {})};
  for (const int P : {0, 1, 3})
    fields[P] = encodeLabelRuns({-9, -1, -1, -1, -1, -9});
  ::testing::internal::CaptureStdout();
  run();
  EXPECT_EQ(::testing::internal::GetCapturedStdout().substr(0, 58),
            "model=0, frq=3\nmodel=2, frq=1\nthe model mode is #0, includ");
  EXPECT_EQ(readFile("log.el.torva"), "Variable_list\nfv\n1 1 0 0 \nR-SET\n0 \n");
  EXPECT_EQ(readFile("bn.el.torva"), "1\n2 \n0 \n2 0.5 0.5 \n");
  EXPECT_EQ(readFile("roi.el.torva"), "0 6\n0 0 0 0 0 0 \n");
}

using EnsembleRunDeathTest = EnsembleRun;

// A failed ensemble puts no result in place and leaves no run folder behind.
TEST_F(EnsembleRunDeathTest, MissingMemberLabelFieldIsFatal) {
  fields.resize(1);
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(1), "iteration 1 has no label field");
  EXPECT_FALSE(fileExistsOnDisk("model.el.torva"));
  EXPECT_EQ(testsupport::countEntriesStartingWith(".torva-run-"), 0);
}

TEST_F(EnsembleRunDeathTest, ShortMemberLabelFieldIsFatal) {
  fields[2] = encodeLabelRuns({-9, 1, 1});
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(1),
              "iteration 2: its label field holds 3 labels, but the study has 6 voxels");
  EXPECT_FALSE(fileExistsOnDisk("roi.el.torva"));
  EXPECT_EQ(testsupport::countEntriesStartingWith(".torva-run-"), 0);
}

TEST(FinalNetworkNodes, ModeVoxelsInRecordOrderThenTheFunctionVariable) {
  std::vector<int> chosen;
  finalNetworkNodes(record(5, {9, 2, 40}), 101, chosen);
  EXPECT_EQ(chosen, (std::vector<int>{8, 1, 39, 100}));
  finalNetworkNodes(record(0, {}), 101, chosen);
  EXPECT_EQ(chosen, (std::vector<int>{100}));
}

} // namespace
