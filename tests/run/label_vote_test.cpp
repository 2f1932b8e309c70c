#include "results/model_record.h"
#include "results/result_transaction.h"
#include "run/label_vote.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <nifti1_io.h>

#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::ScopedTempDir;

ModelRecord record(int iteration, const std::vector<int> &ids) {
  return makeModelRecord(iteration, ids);
}

const std::vector<int> kIdentity2 = {0, 1, 2};

// Votes of the given label fields, all members holding the mode's regions in its order.
VoteTable votesOf(int regions, long voxels, const std::vector<std::vector<int>> &fields) {
  VoteTable table;
  table.reset(regions, voxels);
  std::vector<int> toMode(regions + 1);
  for (int s = 0; s <= regions; ++s)
    toMode[s] = s;
  for (std::size_t i = 0; i < fields.size(); ++i)
    EXPECT_EQ(addVotes(static_cast<int>(i), encodeLabelRuns(fields[i]), toMode, table), "");
  return table;
}

TEST(RegionTranslation, MemberFoundInAnotherOrderMapsToTheModesRegions) {
  std::vector<int> toMode;
  ASSERT_TRUE(regionTranslation(record(4, {9, 5}), record(0, {5, 9}), toMode));
  EXPECT_EQ(toMode, (std::vector<int>{0, 2, 1}));
  ASSERT_TRUE(regionTranslation(record(1, {3, 1, 2}), record(0, {1, 2, 3}), toMode));
  EXPECT_EQ(toMode, (std::vector<int>{0, 3, 1, 2}));
  ASSERT_TRUE(regionTranslation(record(1, {}), record(0, {}), toMode));
  EXPECT_EQ(toMode, (std::vector<int>{0}));
  EXPECT_FALSE(regionTranslation(record(2, {6, 8}), record(0, {5, 9}), toMode));
}

// Voxel 0: two members say "no region", two say region 1 -> the lower label, 0, with 0 %.
// Voxel 1: region 1 and region 2 twice each -> region 1 wins, 50 %.
// Voxel 2: region 2 in all four -> 100 %.  Voxel 3: -9, -1, 0 and 2 -> three votes for none.
TEST(ConsensusVote, TiesGoToTheLowerLabel) {
  const VoteTable table =
      votesOf(2, 4, {{0, 1, 2, -9}, {-1, 2, 2, -1}, {1, 1, 2, 0}, {1, 2, 2, 2}});
  EXPECT_EQ(table.count(0, 0), 2);
  EXPECT_EQ(table.count(0, 1), 2);
  EXPECT_EQ(table.count(3, 0), 3);
  std::vector<int> labels, freqs;
  consensusLabels(table, 4, labels, freqs);
  EXPECT_EQ(labels, (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(freqs, (std::vector<int>{0, 50, 100, 0}));
}

// (100 / 3) * 3 is 100 in doubles, and (100 / 3) * 2 truncates to 66.
TEST(ConsensusVote, PercentageIsDividedFirstThenTruncated) {
  const VoteTable table = votesOf(2, 3, {{2, 1, 0}, {2, 1, 1}, {2, 0, 1}});
  std::vector<int> labels, freqs;
  consensusLabels(table, 3, labels, freqs);
  EXPECT_EQ(labels, (std::vector<int>{2, 1, 1}));
  EXPECT_EQ(freqs, (std::vector<int>{100, 66, 66}));
}

// Labels after the volume's voxels do not vote, whatever they hold.
TEST(ConsensusVote, ExtraEntriesAfterTheVolumeDoNotVote) {
  const VoteTable table = votesOf(1, 3, {{1, 1, -1, 1, 7}});
  std::vector<int> labels, freqs;
  consensusLabels(table, 1, labels, freqs);
  EXPECT_EQ(labels, (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(freqs, (std::vector<int>{100, 100, 0}));
}

// The mode found regions at voxels 5 then 9; a member found 9 first, so its region 1 is the
// mode's region 2. Without translation voxel 0 would be split 1:1 and fall to the lower label.
TEST(ConsensusVote, MembersFoundInAnotherOrderVoteForTheRightRegion) {
  VoteTable table;
  table.reset(2, 3);
  std::vector<int> toMode;
  ASSERT_TRUE(regionTranslation(record(0, {5, 9}), record(0, {5, 9}), toMode));
  EXPECT_EQ(addVotes(0, encodeLabelRuns({2, 1, -1}), toMode, table), "");
  ASSERT_TRUE(regionTranslation(record(1, {9, 5}), record(0, {5, 9}), toMode));
  EXPECT_EQ(addVotes(1, encodeLabelRuns({1, 2, -9}), toMode, table), "");
  std::vector<int> labels, freqs;
  consensusLabels(table, 2, labels, freqs);
  EXPECT_EQ(labels, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(freqs, (std::vector<int>{100, 100, 0}));
}

TEST(LabelFieldErrors, ShortOrInconsistentFieldsAreNamed) {
  VoteTable table;
  table.reset(2, 4);
  EXPECT_EQ(addVotes(3, encodeLabelRuns({1, 2, 0}), kIdentity2, table),
            "iteration 3: its label field holds 3 labels, but the study has 4 voxels\n");
  table.reset(2, 4);
  EXPECT_EQ(addVotes(3, {}, kIdentity2, table),
            "iteration 3: its label field holds 0 labels, but the study has 4 voxels\n");
  table.reset(2, 4);
  EXPECT_EQ(addVotes(7, encodeLabelRuns({1, 3, 0, 0}), kIdentity2, table),
            "iteration 7: voxel 2 is labelled 3, but that iteration found 2 regions\n");
  // A run longer than the rest of the volume votes for the voxels there are.
  table.reset(2, 4);
  EXPECT_EQ(addVotes(5, {{0, 1}, {2, 1000}}, kIdentity2, table), "");
  EXPECT_EQ(table.count(0, 0), 1);
  EXPECT_EQ(table.count(3, 2), 1);
}

TEST(RoiFile, CountsLineThenLabelsEachFollowedByABlank) {
  EXPECT_EQ(roiFileText(2, {0, 1, 2, 0, 0}), "2 5\n0 1 2 0 0 \n");
  EXPECT_EQ(roiFileText(0, {0}), "0 1\n0 \n");
}

TEST(ResultImages, FourFilesReadBackWithTheVotedValues) {
  ScopedTempDir dir;
  const std::vector<int> labels = {0, 1, 2, 0, 1, 0};
  const std::vector<int> freqs = {0, 75, 100, 0, 66, 0};
  ResultTransaction results;
  ASSERT_EQ(results.open(), "");
  writeResultImages(labels, freqs, 3, 2, 1, defaultGeometry(1, 1, 1), results);
  ASSERT_EQ(results.commit(), ""); // every staged size matches what the writer produced
  EXPECT_EQ(readFile("label_field_torvael.hdr").size(), 348u);
  EXPECT_EQ(readFile("label_field_torvael.img"), std::string("\0\1\2\0\1\0", 6));
  EXPECT_EQ(readFile("label_field_torvael.nii").size(), 352u + 6u);
  EXPECT_EQ(readFile("prob_map_torvael.img").size(), 6u * 4u);
  EXPECT_EQ(readFile("prob_map_torvael.nii").size(), 352u + 6u * 4u);

  for (const char *name : {"prob_map_torvael.hdr", "prob_map_torvael.nii"}) {
    nifti_image *image = nifti_image_read(name, 1);
    ASSERT_NE(image, nullptr) << name;
    EXPECT_EQ(image->datatype, DT_FLOAT32);
    EXPECT_EQ(image->nx * image->ny * image->nz, 6);
    const float *values = static_cast<const float *>(image->data);
    EXPECT_EQ(std::vector<float>(values, values + 6),
              (std::vector<float>{0.0f, 75.0f, 100.0f, 0.0f, 66.0f, 0.0f}));
    nifti_image_free(image);
  }
  nifti_image *image = nifti_image_read("label_field_torvael.nii", 1);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->datatype, DT_UINT8);
  EXPECT_EQ(std::memcmp(image->data, "\0\1\2\0\1\0", 6), 0);
  nifti_image_free(image);
}

} // namespace
