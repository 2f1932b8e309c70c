// The one dispatch on the stored type and the one scaling rule of the report and prepare.
#include "data/nifti_voxels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// An image header over `values` (no file): only the fields the visitor and the rule read.
template <typename T> nifti_image imageOver(std::vector<T> &values, int datatype) {
  nifti_image image{};
  image.datatype = datatype;
  image.data = values.data();
  image.nvox = values.size();
  image.scl_slope = 0.0f;
  image.scl_inter = 0.0f;
  return image;
}

// Every type is visited as itself with the requested count; the sum shows the values are read
// through the right width and signedness (-3 as int8 is not 253).
template <typename T> void expectVisitedAs(int datatype) {
  std::vector<T> values = {T(1), T(2), static_cast<T>(std::is_signed_v<T> ? -3 : 250), T(9)};
  const nifti_image image = imageOver(values, datatype);
  double sum = 0;
  int calls = 0;
  const bool visited = visitStoredVoxels(image, 3, [&](const auto *stored, long count) {
    using Seen = std::remove_cv_t<std::remove_pointer_t<decltype(stored)>>;
    EXPECT_TRUE((std::is_same_v<Seen, T>)) << nifti_datatype_string(datatype);
    ++calls;
    for (long i = 0; i < count; ++i)
      sum += static_cast<double>(stored[i]);
    return true;
  });
  EXPECT_TRUE(visited);
  EXPECT_EQ(calls, 1); // once per image, not once per voxel
  EXPECT_EQ(sum, std::is_signed_v<T> ? 0.0 : 253.0) << nifti_datatype_string(datatype);
  EXPECT_TRUE(isStoredVoxelType(datatype));
}

TEST(NiftiVoxels, EachStoredTypeIsVisitedAsItself) {
  expectVisitedAs<std::uint8_t>(DT_UINT8);
  expectVisitedAs<std::int8_t>(DT_INT8);
  expectVisitedAs<std::int16_t>(DT_INT16);
  expectVisitedAs<std::uint16_t>(DT_UINT16);
  expectVisitedAs<std::int32_t>(DT_INT32);
  expectVisitedAs<std::uint32_t>(DT_UINT32);
  expectVisitedAs<float>(DT_FLOAT32);
  expectVisitedAs<double>(DT_FLOAT64);
}

TEST(NiftiVoxels, OtherTypesAndDeclinedTypesAreNotVisited) {
  std::vector<std::int64_t> values = {1, 2};
  for (const int datatype : {DT_INT64, DT_UINT64, DT_COMPLEX64, DT_RGB24, DT_BINARY, 0}) {
    const nifti_image image = imageOver(values, datatype);
    bool called = false;
    EXPECT_FALSE(visitStoredVoxels(image, 2, [&](const auto *, long) { return called = true; }));
    EXPECT_FALSE(called);
    EXPECT_FALSE(isStoredVoxelType(datatype));
  }
  // A visit may decline a type it does not take, as the study reader declines int8.
  std::vector<std::int8_t> small = {0, 1};
  const nifti_image image = imageOver(small, DT_INT8);
  EXPECT_FALSE(visitStoredVoxels(image, 2, [](const auto *stored, long) {
    return !std::is_same_v<std::remove_cv_t<std::remove_pointer_t<decltype(stored)>>, std::int8_t>;
  }));
}

// The header check and the dispatch list the same types, over every code a header can hold.
TEST(NiftiVoxels, TheHeaderCheckAgreesWithTheDispatch) {
  std::vector<double> values(1, 0.0);
  for (int datatype = 0; datatype <= 2304; ++datatype) {
    const nifti_image image = imageOver(values, datatype);
    const bool visited = visitStoredVoxels(image, 0, [](const auto *, long) { return true; });
    EXPECT_EQ(isStoredVoxelType(datatype), visited) << datatype;
  }
}

nifti_image scaledHeader(float slope, float inter) {
  nifti_image image{};
  image.scl_slope = slope;
  image.scl_inter = inter;
  return image;
}

// Worked: 200 stored with slope 1/255 and no intercept is 200/255; stored 3 with (2, -1) is 5.
TEST(StoredScaling, StoredTimesSlopePlusIntercept) {
  const StoredScaling byteScale = storedScaling(scaledHeader(1.0f / 255.0f, 0.0f));
  EXPECT_FALSE(byteScale.identity);
  EXPECT_EQ(byteScale(200.0), 200.0 * static_cast<double>(1.0f / 255.0f));
  EXPECT_EQ(byteScale(255.0), 255.0 * static_cast<double>(1.0f / 255.0f));
  const StoredScaling affine = storedScaling(scaledHeader(2.0f, -1.0f));
  EXPECT_EQ(affine(3.0), 5.0);
  EXPECT_EQ(affine(0.0), -1.0);
  // The float header fields are widened before the arithmetic, so 0.1f stays 0.1f's double.
  EXPECT_EQ(storedScaling(scaledHeader(0.1f, 0.0f))(10.0), 10.0 * static_cast<double>(0.1f));
}

TEST(StoredScaling, SlopeZeroTheIdentityAndUnreadableSlopesLeaveValuesAsStored) {
  for (const float slope : {0.0f, 1.0f, NAN, INFINITY}) {
    const StoredScaling scaling = storedScaling(scaledHeader(slope, 0.0f));
    EXPECT_TRUE(scaling.identity) << slope;
    EXPECT_EQ(scaling(7.5), 7.5);
    EXPECT_TRUE(std::signbit(scaling(-0.0))); // no arithmetic at all under the identity
  }
  // A slope of 0 ignores the intercept; a slope of 1 with an intercept shifts.
  EXPECT_EQ(storedScaling(scaledHeader(0.0f, 4.0f))(2.0), 2.0);
  EXPECT_EQ(storedScaling(scaledHeader(1.0f, 4.0f))(2.0), 6.0);
  // An intercept that is not finite counts as none.
  EXPECT_EQ(storedScaling(scaledHeader(2.0f, NAN))(3.0), 6.0);
}

} // namespace
