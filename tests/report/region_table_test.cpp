#include "report/region_table.h"

#include <gtest/gtest.h>

namespace {

// 2 x 1 x 1 grid, 1 mm voxels at x = 0 and 1: region 1 holds both voxels, region 2 none (its
// representative fell outside the consensus).
TEST(RegionTable, RegionWithoutVoxelsGetsBlankPositionsNotZeros) {
  Volume grid;
  grid.x = 2;
  grid.y = grid.z = 1;
  grid.affine = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
  grid.values = {40.0, 60.0};
  const auto rows = regionRows({1, 1}, 2, {0, 1}, grid, nullptr);
  const auto cells = regionCells(rows, false, false);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(regionsCsv({cells[1]}),
            "1,2,2.0,1,0.0,0.0,0.0,0.5,0.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,50.0,"
            "60.0\n");
  EXPECT_EQ(regionsCsv({cells[2]}), "2,0,0.0,2,1.0,0.0,0.0,,,,,,,,,,,\n");
}

TEST(RegionTable, RatesAndAlignment) {
  EXPECT_EQ(countWithRate(2, 3), "2 (66.7%)");
  EXPECT_EQ(countWithRate(0, 0), "0 (-)");
  EXPECT_EQ(alignedTable({{"region", "x"}, {"1", "-10.5"}}), "region      x\n     1  -10.5\n");
}

} // namespace
