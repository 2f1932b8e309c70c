#include "util/number_text.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberText, NumbersTakeTheWrittenFormsOfDoubles) {
  double value = 0;
  EXPECT_TRUE(numberOf("1e-07", value));
  EXPECT_DOUBLE_EQ(value, 1e-07);
  EXPECT_TRUE(numberOf("0.0909091", value));
  EXPECT_DOUBLE_EQ(value, 0.0909091);
  EXPECT_FALSE(numberOf("", value));
  EXPECT_FALSE(numberOf("0.5.", value));
  EXPECT_FALSE(numberOf("x", value));
}

} // namespace
