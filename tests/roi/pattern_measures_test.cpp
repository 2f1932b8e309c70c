#include "roi/pattern_measures.h"

#include <gtest/gtest.h>

TEST(PatternMeasures, NormCountsCasesInStateOne) {
  EXPECT_EQ(vector_norm("0110", 4), 2);
  EXPECT_EQ(vector_norm("0000", 4), 0);
  // More than two states: the states are summed.
  EXPECT_EQ(vector_norm("0213", 4), 6);
}

TEST(PatternMeasures, HammingDistanceOfFourCasePatterns) {
  EXPECT_EQ(hamming_dis("0101", "0101", 4), 0.0L);
  EXPECT_EQ(hamming_dis("0101", "1100", 4), 0.5L);
  EXPECT_EQ(hamming_dis("0000", "1111", 4), 1.0L);
}

TEST(PatternMeasures, HammingThresholdIsStrictlyAbove) {
  // 0101 and 1100 differ in two cases.
  EXPECT_EQ(hamming_threshold("0101", "1100", 4, 2), 0);
  EXPECT_EQ(hamming_threshold("0101", "1100", 4, 1), 1);
  EXPECT_EQ(hamming_threshold("0101", "0101", 4, 0), 0);
}
