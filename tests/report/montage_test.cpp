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
// 27; two rows of six tiles.
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
  EXPECT_EQ(layout.scale, 8); // 240 / 10 = 24, capped at 8
  EXPECT_EQ(layout.width, 6 * 80 + 5 * 2);
  EXPECT_EQ(layout.height, 2 * 80 + 2);
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
