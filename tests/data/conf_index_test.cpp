#include "data/conf_index.h"

#include <gtest/gtest.h>

TEST(ConfIndex, FirstValueVariesFastest) {
  // States (1, 0, 1) of two-state nodes: 1 * 1 + 0 * 2 + 1 * 4.
  long index = -1;
  conf2ind_wq("101", index, {1, 2, 4, 8});
  EXPECT_EQ(index, 5);
  // Mixed state counts 3, 2, 4: (2, 1, 3) -> 2 + 1 * 3 + 3 * 6.
  conf2ind_wq("213", index, {1, 3, 6, 24});
  EXPECT_EQ(index, 23);
}

TEST(ConfIndex, ReadsOnlyOneValueFewerThanStrides) {
  // The last stride is the table size; the byte after the values is not read.
  long index = -1;
  conf2ind_wq("1\x7f", index, {1, 2});
  EXPECT_EQ(index, 1);
  conf2ind_wq("", index, {1});
  EXPECT_EQ(index, 0);
}
