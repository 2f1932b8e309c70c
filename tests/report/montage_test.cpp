#include "report/montage.h"

#include <gtest/gtest.h>

#include "report/colour_maps.h"

namespace {

Volume grid(int x, int y, int z, double dz) {
  Volume v;
  v.x = x;
  v.y = y;
  v.z = z;
  v.affine = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, dz, 0}}};
  return v;
}

// 30 slices, regions in slices 3 .. 27: twelve evenly spaced picks t * 24 / 11 from 3, ending on
// 27; two rows of six tiles. The region voxel (5, 5) of each slice is all there is to show, so
// the tiles are cropped to i, j = 3 .. 7.
TEST(MontagePlan, ThinsTheRegionSlicesEvenlyIncludingBothEnds) {
  const Volume g = grid(10, 10, 30, 1.0);
  std::vector<int> labels(3000, 0);
  for (int k = 3; k <= 27; ++k)
    labels[k * 100 + 55] = 1;
  const MontageLayout layout = planMontage(g, labels);
  ASSERT_EQ(layout.slices.size(), 12u);
  EXPECT_EQ(layout.slices.front(), 3);
  EXPECT_EQ(layout.slices[1], 5);
  EXPECT_EQ(layout.slices.back(), 27);
  EXPECT_EQ(layout.columns, 6);
  EXPECT_EQ(layout.nx, 5);
  EXPECT_EQ(layout.ny, 5);
  EXPECT_EQ(layout.scale, 8); // 240 / 5 = 48, capped at 8
  EXPECT_EQ(layout.width, 6 * 40 + 5 * 2);
  EXPECT_EQ(layout.height, 2 * 40 + 2);
}

// Region slices 0, 1, 2 and 40 .. 60. The twelve positions t * 60 / 11 are 0, 5.5, 10.9, 16.4,
// 21.8, 27.3, 32.7, 38.2, 43.6, 49.1, 54.5 and 60; the nearest region slices are 0, 2, 2, 2, 40,
// 40, 40, 40, 44, 49, 55 and 60, each shown once: the gap between 2 and 40 gets no tile.
TEST(MontagePlan, PicksTheRegionSlicesNearestToEvenlySpacedPositions) {
  std::vector<int> slices = {0, 1, 2};
  for (int k = 40; k <= 60; ++k)
    slices.push_back(k);
  EXPECT_EQ(evenlySpacedSlices(slices, 12), (std::vector<int>{0, 2, 40, 44, 49, 55, 60}));
  EXPECT_EQ(evenlySpacedSlices({3, 9}, 12), (std::vector<int>{3, 9}));
  // Labels above 0 in slice 1 (second pair) and slice 3 (fourth pair).
  EXPECT_EQ(slicesHoldingRegions({0, 0, 1, 0, 0, 0, 0, 2}, 2, 4), (std::vector<int>{1, 3}));
}

// A 20 x 10 x 1 grid whose background is above 0 only in i = 5 .. 8, j = 3 .. 4 and one region
// voxel at (12, 4): the tiles keep i = 3 .. 14 and j = 1 .. 6 (two voxels of margin).
TEST(MontagePlan, CropsToTheBackgroundAndRegionsWithAMargin) {
  const Volume g = grid(20, 10, 1, 1.0);
  std::vector<int> labels(200, 0);
  labels[4 * 20 + 12] = 1;
  std::vector<double> background(200, 0.0);
  for (int j = 3; j <= 4; ++j)
    for (int i = 5; i <= 8; ++i)
      background[j * 20 + i] = 50.0;
  const MontageLayout layout = planMontage(g, labels, background);
  EXPECT_EQ(layout.x0, 3);
  EXPECT_EQ(layout.nx, 12);
  EXPECT_EQ(layout.y0, 1);
  EXPECT_EQ(layout.ny, 6);
  EXPECT_EQ(layout.scale, 8); // 240 / 12 = 20, capped at 8
  // Drawn: voxel (12, 4) is crop column 9, row from the top 6 - 1 - 3 = 2.
  const RgbImage image = renderRegions(layout, std::vector<unsigned char>(200, 20), labels);
  const unsigned char *p = &image.pixels[((2 * 8 + 1) * image.width + 9 * 8 + 1) * 3];
  EXPECT_EQ((Rgb{p[0], p[1], p[2]}), regionColour(1));
}

// Twelve tiles of a 181-voxel-wide grid cannot be six across at 1 mm and 2 pixels per voxel
// within the page: the plan drops to the widest scale that fits, or to fewer columns.
TEST(MontagePlan, StaysWithinThePageWidth) {
  for (const int x : {91, 181, 256}) {
    const Volume g = grid(x, 100, 12, 1.0);
    const std::vector<int> labels(static_cast<std::size_t>(x) * 100 * 12, 1);
    const MontageLayout layout = planMontage(g, labels);
    EXPECT_LE(layout.width, kMaxMontageWidth) << x;
    EXPECT_GE(layout.scale, 1);
    EXPECT_EQ(layout.slices.size(), 12u);
  }
}

// A grid stored top down (z falls with k) still shows the slices from inferior to superior.
TEST(MontagePlan, OrdersSlicesByWorldZ) {
  const Volume g = grid(4, 4, 3, -2.0);
  const std::vector<int> labels(48, 1);
  const MontageLayout layout = planMontage(g, labels);
  EXPECT_EQ(layout.slices, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(layout.sliceMm, (std::vector<double>{-4.0, -2.0, 0.0}));
}

TEST(MontageGrey, ScalesToTheNinetyNinthPercentileAndSaturatesAbove) {
  std::vector<double> values(200, 0.0);
  for (int v = 0; v < 200; ++v)
    values[v] = v;   // the 99th percentile of 0 .. 199 is element 197
  values[199] = 1e6; // one bright outlier does not darken the rest
  const double top = greyScaleTop(values);
  EXPECT_DOUBLE_EQ(top, 197.0);
  const auto levels = greyLevels(values, top);
  EXPECT_EQ(levels[0], 20);
  EXPECT_EQ(levels[197], 235);
  EXPECT_EQ(levels[199], 235);
  EXPECT_EQ(greyScaleTop(std::vector<double>(5, 0.0)), 0.0);
}

// The published end points of the colour map are #440154 and #fde725; the fit stays within a few
// steps of them, and the map brightens monotonically in green.
TEST(ColourMaps, ViridisEndsNearThePublishedColours) {
  const Rgb low = viridisColour(0.0);
  const Rgb high = viridisColour(1.0);
  EXPECT_NEAR(low.r, 0x44, 4);
  EXPECT_NEAR(low.g, 0x01, 4);
  EXPECT_NEAR(low.b, 0x54, 4);
  EXPECT_NEAR(high.r, 0xfd, 4);
  EXPECT_NEAR(high.g, 0xe7, 4);
  EXPECT_NEAR(high.b, 0x25, 8);
  for (int i = 1; i < 256; ++i)
    EXPECT_GE(viridisColour(i / 255.0).g, viridisColour((i - 1) / 255.0).g) << i;
  EXPECT_EQ(hexColour({0x44, 0x01, 0x54}), "#440154");
}

TEST(ColourMaps, RegionPaletteColoursDifferAndRepeatAfterTwelve) {
  for (int a = 1; a <= kRegionPaletteSize; ++a)
    for (int b = a + 1; b <= kRegionPaletteSize; ++b)
      EXPECT_NE(regionColour(a), regionColour(b)) << a << " " << b;
  EXPECT_EQ(regionColour(13), regionColour(1));
}

} // namespace
