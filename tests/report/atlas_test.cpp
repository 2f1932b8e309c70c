#include "report/atlas.h"

#include <gtest/gtest.h>

namespace {

TEST(AtlasNames, TabsOrSpacesAndNamesWithSpaces) {
  std::map<long, std::string> names;
  EXPECT_EQ(parseAtlasNames("l.txt",
                            "# index name\n1\tSuperior temporal gyrus\n  2   insula  \r\n\n"
                            "30 putamen\n",
                            names),
            "");
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[1], "Superior temporal gyrus");
  EXPECT_EQ(names[2], "insula");
  EXPECT_EQ(names[30], "putamen");
}

TEST(AtlasNames, RefusesBadIndicesMissingNamesAndRepeats) {
  std::map<long, std::string> names;
  EXPECT_EQ(parseAtlasNames("l.txt", "1 a\nx2 b\n", names),
            "l.txt line 2: the index \"x2\" is not a whole number\n");
  EXPECT_EQ(parseAtlasNames("l.txt", "1.5 a\n", names),
            "l.txt line 1: the index \"1.5\" is not a whole number\n");
  EXPECT_EQ(parseAtlasNames("l.txt", "4\n", names), "l.txt line 1: label 4 has no name\n");
  EXPECT_EQ(parseAtlasNames("l.txt", "4 a\n4 b\n", names),
            "l.txt line 2: label 4 is named twice\n");
}

// Region 1 = voxels 0..5 with atlas labels 3 3 3 0 8 9: label 3 holds 50.0 %, 8 and 9 16.7 %
// each (tie: lower index first), label 0 left out; region 2 = voxels 6..13 of labels 4 4 1 1 5
// 6 7 0: the top three are 1, 4 (25.0 % each) and 5 (12.5 %, before 6 and 7), ties in index
// order. Region 2's representative (voxel 13) has label 0: empty rep_label.
TEST(AtlasRegions, RepresentativeLabelAndTheThreeLargestShares) {
  Atlas atlas;
  atlas.labels = {3, 3, 3, 0, 8, 9, 4, 4, 1, 1, 5, 6, 7, 0};
  atlas.names = {{3, "area_3"}, {4, "area_4"}};
  const std::vector<int> roi = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2};
  const auto labels = regionAtlasLabels(atlas, roi, 2, {1, 13});
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].repLabel, "area_3");
  EXPECT_EQ(labels[0].topLabels, "area_3:50.0;8:16.7;9:16.7");
  EXPECT_EQ(labels[1].repLabel, "");
  EXPECT_EQ(labels[1].topLabels, "1:25.0;area_4:25.0;5:12.5");
}

} // namespace
