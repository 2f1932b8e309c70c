// The report's reading of a template or an atlas: stored values scaled as intensities, and the
// one stored type it cannot display.
#include "report/volume.h"

#include <gtest/gtest.h>

#include <nifti1_io.h>

#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ScopedTempDir;

// Writes `values` as a 4 x 1 x 1 image of `datatype` with the stored scaling (slope, inter).
void writeScaled(const char *path, int datatype, const std::vector<double> &values, float slope,
                 float inter) {
  ASSERT_TRUE(testsupport::writeTestImage(path, datatype, 4, 1, 1, values));
  nifti_image *image = nifti_image_read(path, 1);
  ASSERT_NE(image, nullptr);
  image->scl_slope = slope;
  image->scl_inter = inter;
  nifti_image_write(image);
  nifti_image_free(image);
}

TEST(ReportVolume, StoredValuesAreScaledAsIntensities) {
  ScopedTempDir dir;
  // Stored 0, 1, 2, -100 with (0.5, 10): 10, 10.5, 11, -40.
  writeScaled("scaled.nii", DT_INT16, {0, 1, 2, -100}, 0.5f, 10.0f);
  Volume volume;
  ASSERT_EQ(readVolume("scaled.nii", volume), "");
  EXPECT_EQ(volume.values, (std::vector<double>{10.0, 10.5, 11.0, -40.0}));
  // A slope of 0 means unscaled; the intercept is then ignored.
  writeScaled("unscaled.nii", DT_UINT8, {0, 1, 2, 255}, 0.0f, 10.0f);
  ASSERT_EQ(readVolume("unscaled.nii", volume), "");
  EXPECT_EQ(volume.values, (std::vector<double>{0.0, 1.0, 2.0, 255.0}));
  // A slope that is no short decimal: each value is stored * double(slope), not a rounded one.
  writeScaled("fraction.nii", DT_UINT8, {0, 1, 200, 255}, 1.0f / 255.0f, 0.0f);
  ASSERT_EQ(readVolume("fraction.nii", volume), "");
  const double slope = static_cast<double>(1.0f / 255.0f);
  EXPECT_EQ(volume.values, (std::vector<double>{0.0, slope, 200.0 * slope, 255.0 * slope}));
}

TEST(ReportVolume, Uint32CannotBeDisplayed) {
  ScopedTempDir dir;
  // Written as int32, then marked uint32: the same width.
  ASSERT_TRUE(testsupport::writeTestImage("u32.nii", DT_INT32, 4, 1, 1, {0, 1, 2, 3}));
  nifti_image *image = nifti_image_read("u32.nii", 1);
  ASSERT_NE(image, nullptr);
  image->datatype = DT_UINT32;
  nifti_image_write(image);
  nifti_image_free(image);
  Volume volume;
  EXPECT_EQ(readVolume("u32.nii", volume),
            "u32.nii has the data type UINT32, which cannot be displayed\n");
}

} // namespace
