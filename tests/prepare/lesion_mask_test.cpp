#include "prepare/lesion_mask.h"

#include <gtest/gtest.h>

#include <cmath>

#include "prepare/mask_fixtures.h"
#include "support/temp_dir.h"

namespace {

using preparetest::TestAffine;
using preparetest::writeMask;
using testsupport::ScopedTempDir;

const double kNaN = std::nan("");

std::vector<unsigned char> binarised(const std::string &path, const LesionRule &rule,
                                     bool &wasBinary) {
  BinaryMask mask;
  EXPECT_EQ(loadBinaryMask(path, rule, mask), "");
  wasBinary = mask.wasBinary;
  return mask.voxels;
}

using Bytes = std::vector<unsigned char>;

TEST(LoadBinaryMask, EveryTypeIsLesionedAboveZeroByDefault) {
  ScopedTempDir dir;
  bool wasBinary = false;
  ASSERT_TRUE(writeMask("u8.nii.gz", DT_UINT8, 2, 2, 1, {0, 1, 1, 0}));
  EXPECT_EQ(binarised("u8.nii.gz", LesionRule{}, wasBinary), (Bytes{0, 1, 1, 0}));
  EXPECT_TRUE(wasBinary);
  ASSERT_TRUE(writeMask("i16.nii.gz", DT_INT16, 2, 2, 1, {0, 100, -3, 256}));
  // 256 would be 0 taken modulo 256; here it is a lesion value like any positive one.
  EXPECT_EQ(binarised("i16.nii.gz", LesionRule{}, wasBinary), (Bytes{0, 1, 0, 1}));
  EXPECT_FALSE(wasBinary);
  ASSERT_TRUE(writeMask("f32.nii.gz", DT_FLOAT32, 2, 2, 1, {0.0, 0.2, kNaN, 1.0}));
  EXPECT_EQ(binarised("f32.nii.gz", LesionRule{}, wasBinary), (Bytes{0, 1, 0, 1}));
  EXPECT_FALSE(wasBinary);
}

TEST(LoadBinaryMask, ThresholdIsInclusive) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeMask("f64.nii", DT_FLOAT64, 4, 1, 1, {0.49, 0.5, 0.51, kNaN}));
  LesionRule rule;
  rule.hasThreshold = true;
  rule.threshold = 0.5;
  bool wasBinary = true;
  EXPECT_EQ(binarised("f64.nii", rule, wasBinary), (Bytes{0, 1, 1, 0}));
  // NaN is the value 0, so a negative threshold takes it in.
  rule.threshold = -1.0;
  EXPECT_EQ(binarised("f64.nii", rule, wasBinary), (Bytes{1, 1, 1, 1}));
}

TEST(LoadBinaryMask, StoredScalingIsAppliedBeforeTheRule) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeMask("scaled.nii", DT_INT16, 3, 1, 1, {0, 1, 2}));
  nifti_image *image = nifti_image_read("scaled.nii", 1);
  image->scl_slope = 0.5f;
  image->scl_inter = -0.5f;
  nifti_image_write(image);
  nifti_image_free(image);
  LesionRule rule;
  rule.hasThreshold = true;
  rule.threshold = 0.5;
  bool wasBinary = true;
  // Stored 0, 1, 2 are the values -0.5, 0, 0.5.
  EXPECT_EQ(binarised("scaled.nii", rule, wasBinary), (Bytes{0, 0, 1}));
  EXPECT_FALSE(wasBinary);
}

TEST(LesionRule, NaNIsTheValueZero) {
  LesionRule rule;
  EXPECT_FALSE(rule.lesioned(kNaN));
  EXPECT_TRUE(rule.lesioned(1e-9));
  rule.hasThreshold = true;
  rule.threshold = 0.0;
  EXPECT_TRUE(rule.lesioned(kNaN));
  EXPECT_FALSE(rule.lesioned(-1e-9));
}

TEST(ReadMaskGrid, RefusesUnreadableMultiVolumeAndUnsupportedMasks) {
  ScopedTempDir dir;
  MaskGrid grid;
  testsupport::writeFile("broken.nii.gz", "not an image");
  EXPECT_EQ(readMaskGrid("broken.nii.gz", grid),
            "mask broken.nii.gz cannot be read as a NIfTI-1 or Analyze image");
  ASSERT_TRUE(
      writeMask("4d.nii.gz", DT_UINT8, 2, 2, 2, std::vector<double>(8, 1), TestAffine{}, 3));
  EXPECT_EQ(readMaskGrid("4d.nii.gz", grid),
            "mask 4d.nii.gz holds 3 volumes; a mask must be a single 3-D volume");
  ASSERT_TRUE(
      writeMask("1vol.nii.gz", DT_UINT8, 2, 2, 2, std::vector<double>(8, 1), TestAffine{}, 1));
  EXPECT_EQ(readMaskGrid("1vol.nii.gz", grid), "");
  int dims[8] = {3, 2, 2, 2, 1, 1, 1, 1};
  nifti_image *rgb = nifti_make_new_nim(dims, DT_RGB24, 1);
  nifti_set_filenames(rgb, "rgb.nii.gz", 0, 1);
  nifti_image_write(rgb);
  nifti_image_free(rgb);
  EXPECT_EQ(readMaskGrid("rgb.nii.gz", grid),
            "mask rgb.nii.gz has the voxel type RGB24; masks must be of an integer or a real type");
}

TEST(CompareGrids, ExtentsMustMatchAndAffinesAgreeToAThousandthOfAMillimetre) {
  ScopedTempDir dir;
  const std::vector<double> ones(24, 1);
  TestAffine near;
  near.ox += 0.0009f;
  TestAffine far;
  far.oy += 0.002f;
  ASSERT_TRUE(writeMask("a.nii.gz", DT_UINT8, 2, 3, 4, ones));
  ASSERT_TRUE(writeMask("near.nii.gz", DT_UINT8, 2, 3, 4, ones, near));
  ASSERT_TRUE(writeMask("far.nii.gz", DT_UINT8, 2, 3, 4, ones, far));
  ASSERT_TRUE(writeMask("other.nii.gz", DT_UINT8, 3, 2, 4, ones));
  MaskGrid a, b;
  ASSERT_EQ(readMaskGrid("a.nii.gz", a), "");
  ASSERT_EQ(readMaskGrid("near.nii.gz", b), "");
  EXPECT_EQ(compareGrids(a, b), "");
  ASSERT_EQ(readMaskGrid("far.nii.gz", b), "");
  EXPECT_EQ(compareGrids(a, b),
            "mask far.nii.gz has the voxel-to-world affine [2 0 0 -90; 0 2 0 -125.998; 0 0 2 "
            "-72]; the first mask a.nii.gz has [2 0 0 -90; 0 2 0 -126; 0 0 2 -72] (they must "
            "agree to 0.001 mm)");
  ASSERT_EQ(readMaskGrid("other.nii.gz", b), "");
  EXPECT_EQ(compareGrids(a, b), "mask other.nii.gz has the grid 3 x 2 x 4; the first mask "
                                "a.nii.gz has 2 x 3 x 4");
}

// A 3 x 2 x 1 mask pooled by two: the odd x extent gives 2 voxels, the second covering old x = 2
// alone; y and z shrink to 1.
TEST(DownsampledByTwo, MaxPoolsWithOddExtentsRoundedUp) {
  BinaryMask mask;
  mask.x = 3;
  mask.y = 2;
  mask.z = 1;
  mask.voxels = {0, 0, 0,  // y = 0
                 1, 0, 0}; // y = 1
  BinaryMask coarse = downsampledByTwo(mask);
  EXPECT_EQ(coarse.x, 2);
  EXPECT_EQ(coarse.y, 1);
  EXPECT_EQ(coarse.z, 1);
  EXPECT_EQ(coarse.voxels, (Bytes{1, 0}));
  mask.voxels = {0, 0, 1, 0, 0, 0};
  EXPECT_EQ(downsampledByTwo(mask).voxels, (Bytes{0, 1}));
}

} // namespace
