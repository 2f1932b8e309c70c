#include "util/whole_number.h"

#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

namespace {

TEST(WholeNumber, DigitsAreOnlyDigitsUpToTheirBound) {
  unsigned long long value = 7;
  EXPECT_EQ(parseDigits("4096", 4096, value), WholeNumber::Ok);
  EXPECT_EQ(value, 4096u);
  EXPECT_EQ(parseDigits("0004096", 4096, value), WholeNumber::Ok); // length caps are the caller's
  EXPECT_EQ(parseDigits("4097", 4096, value), WholeNumber::OutOfRange);
  EXPECT_EQ(parseDigits("18446744073709551615", UINT64_MAX, value), WholeNumber::Ok);
  EXPECT_EQ(value, UINT64_MAX);
  EXPECT_EQ(parseDigits("18446744073709551616", UINT64_MAX, value), WholeNumber::OutOfRange);
  EXPECT_EQ(parseDigits("0", 0, value), WholeNumber::Ok);
  EXPECT_EQ(parseDigits("1", 0, value), WholeNumber::OutOfRange);
  value = 7;
  for (const char *refused : {"", "+1", "-1", " 1", "1 ", "1x", "0x10", "1.0"})
    EXPECT_EQ(parseDigits(refused, 100, value), WholeNumber::NotWhole) << '"' << refused << '"';
  // A stray character is reported as such even after digits that overflow.
  EXPECT_EQ(parseDigits("99999999999999999999999x", 100, value), WholeNumber::NotWhole);
  EXPECT_EQ(value, 7u); // a refused text leaves the value as it was
}

TEST(WholeNumber, SignedNumbersReachBothEndsOfLongLong) {
  long long value = 0;
  EXPECT_EQ(parseWholeNumber("-9223372036854775808", LLONG_MIN, LLONG_MAX, value), WholeNumber::Ok);
  EXPECT_EQ(value, LLONG_MIN);
  EXPECT_EQ(parseWholeNumber("+9223372036854775807", LLONG_MIN, LLONG_MAX, value), WholeNumber::Ok);
  EXPECT_EQ(value, LLONG_MAX);
  EXPECT_EQ(parseWholeNumber("9223372036854775808", LLONG_MIN, LLONG_MAX, value),
            WholeNumber::OutOfRange);
  EXPECT_EQ(parseWholeNumber("-9223372036854775809", LLONG_MIN, LLONG_MAX, value),
            WholeNumber::OutOfRange);
  EXPECT_EQ(parseWholeNumber("-0", 0, 0, value), WholeNumber::Ok);
  EXPECT_EQ(value, 0);
  for (const char *refused : {"", "-", "+", "+-1", " 1", "1 ", "1e3", "12a"})
    EXPECT_EQ(parseWholeNumber(refused, LLONG_MIN, LLONG_MAX, value), WholeNumber::NotWhole)
        << '"' << refused << '"';
}

// Ranges below, at and above each bound, on both sides of zero.
TEST(WholeNumber, RangesAreInclusive) {
  long long value = 0;
  EXPECT_EQ(parseWholeNumber("-11", -10, -5, value), WholeNumber::OutOfRange);
  EXPECT_EQ(parseWholeNumber("-10", -10, -5, value), WholeNumber::Ok);
  EXPECT_EQ(parseWholeNumber("-5", -10, -5, value), WholeNumber::Ok);
  EXPECT_EQ(parseWholeNumber("-4", -10, -5, value), WholeNumber::OutOfRange);
  EXPECT_EQ(parseWholeNumber("3", -10, -5, value), WholeNumber::OutOfRange);
  EXPECT_EQ(parseWholeNumber("2147483647", INT_MIN, INT_MAX, value), WholeNumber::Ok);
  EXPECT_EQ(parseWholeNumber("2147483648", INT_MIN, INT_MAX, value), WholeNumber::OutOfRange);
  EXPECT_EQ(parseWholeNumber("-2147483649", INT_MIN, INT_MAX, value), WholeNumber::OutOfRange);
}

TEST(WholeNumber, TableCellsMayLeadWithBlanksButMayNotBeEmpty) {
  long value = 5;
  EXPECT_TRUE(wholeNumberOf(" \t-37", value));
  EXPECT_EQ(value, -37);
  EXPECT_TRUE(wholeNumberOf("9223372036854775807", value));
  EXPECT_FALSE(wholeNumberOf("9223372036854775808", value)); // one past the largest long
  // An empty cell was read as 0 before; it holds no number.
  EXPECT_FALSE(wholeNumberOf("", value));
  EXPECT_FALSE(wholeNumberOf("   ", value));
  EXPECT_FALSE(wholeNumberOf("12 ", value));
  EXPECT_FALSE(wholeNumberOf("1.0", value));
}

} // namespace
