#include "dataset/csv_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(SplitFields, CommasAndTrimming) {
  std::vector<std::string> fields;
  splitFields(" a ,b\t, c\r", fields);
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "b", "c"}));
  // A trailing comma is one more (empty) cell, as an inner empty cell is.
  splitFields("1,,3,", fields);
  EXPECT_EQ(fields, (std::vector<std::string>{"1", "", "3", ""}));
  splitFields("", fields);
  EXPECT_EQ(fields, (std::vector<std::string>{""}));
}

TEST(ColumnTypeTest, FirstCellDecidesNumericOrText) {
  EXPECT_TRUE(isPlainDecimal("3.5"));
  EXPECT_TRUE(isPlainDecimal("12"));
  EXPECT_TRUE(isPlainDecimal(""));
  EXPECT_TRUE(isPlainDecimal(".5"));
  EXPECT_FALSE(isPlainDecimal("-2"));
  EXPECT_FALSE(isPlainDecimal("1e5"));
  EXPECT_FALSE(isPlainDecimal("1.2.3"));
  EXPECT_FALSE(isPlainDecimal("+1"));
  EXPECT_FALSE(isPlainDecimal("1 2"));
}

TEST(ParseDecimal, AcceptsDecimalNotationOnly) {
  float value = 0.0f;
  EXPECT_TRUE(parseDecimal("-2", value));
  EXPECT_EQ(value, -2.0f);
  EXPECT_TRUE(parseDecimal("1e5", value));
  EXPECT_EQ(value, 100000.0f);
  EXPECT_TRUE(parseDecimal("+.25E-1", value));
  EXPECT_EQ(value, 0.025f);
  EXPECT_TRUE(parseDecimal("7.", value));
  EXPECT_EQ(value, 7.0f);
  for (const char *bad : {"abc", "12abc", "nan", "inf", "0x10", ".", "-", "1e", "1e+", "1e50"}) {
    value = 42.0f;
    EXPECT_FALSE(parseDecimal(bad, value)) << bad;
    EXPECT_EQ(value, 42.0f) << bad;
  }
}
