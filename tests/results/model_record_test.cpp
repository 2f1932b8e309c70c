#include "results/model_record.h"

#include <gtest/gtest.h>

TEST(ModelRecords, HoldIterationCountAndIdsThenMinusOne) {
  const ModelRecord record = makeModelRecord(4, {17, 3});
  EXPECT_EQ(record[0], 4);
  EXPECT_EQ(record[1], 2);
  EXPECT_EQ(record[2], 17);
  EXPECT_EQ(record[3], 3);
  for (int slot = 4; slot < kModelRecordSlots; ++slot)
    EXPECT_EQ(record[slot], -1);
  const ModelRecord empty = makeModelRecord(0, {});
  EXPECT_EQ(empty[1], 0);
  EXPECT_EQ(empty[2], -1);
}
