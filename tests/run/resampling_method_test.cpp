#include "run/resampling_method.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

#include "support/temp_dir.h"

TEST(Unif, StaysInRangeAndReproducesAfterReseeding) {
  std::srand(0);
  std::vector<int> first;
  for (int i = 0; i < 1000; ++i) {
    const int value = unif(7);
    ASSERT_GE(value, 0);
    ASSERT_LT(value, 7);
    first.push_back(value);
  }
  std::srand(0);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(unif(7), first[i]);
}

TEST(Unif, FollowsTheFloorOfTheScaledQuotient) {
  std::srand(42);
  const int r = std::rand();
  std::srand(42);
  const int expected = static_cast<int>(std::floor(10 * (r / 2147483646.0)));
  EXPECT_EQ(unif(10), std::min(expected, 9));
}

TEST(Unif, OneChoiceIsAlwaysZero) {
  std::srand(3);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(unif(1), 0);
}

TEST(ChooseSubjects, JackknifeLeavesOutTheIterationsSubjectInListOrder) {
  std::vector<int> chosen;
  chooseSubjects(chosen, kJackknife, 30, 0);
  ASSERT_EQ(chosen.size(), 29u);
  EXPECT_EQ(chosen.front(), 1);
  EXPECT_EQ(chosen.back(), 29);
  chooseSubjects(chosen, kJackknife, 30, 17);
  ASSERT_EQ(chosen.size(), 29u);
  for (int k = 0; k < 29; ++k)
    EXPECT_EQ(chosen[k], k < 17 ? k : k + 1);
}

TEST(ChooseSubjects, BootstrapFollowsTheSeededDrawsWithRepeatsInDrawOrder) {
  std::srand(0);
  std::vector<int> expected;
  for (int k = 0; k < 40; ++k)
    expected.push_back(unif(40));
  std::srand(0);
  std::vector<int> chosen;
  chooseSubjects(chosen, kBootstrap, 40, 0);
  EXPECT_EQ(chosen, expected);
  // 40 draws from 40 subjects repeat some subject with near certainty; this seed does.
  EXPECT_LT(std::set<int>(chosen.begin(), chosen.end()).size(), chosen.size());
  std::srand(0);
  std::vector<int> again;
  chooseSubjects(again, kBootstrap, 40, 5);
  EXPECT_EQ(again, chosen);
}

TEST(Arguments, OnlyTheExactTextsOneAndTwoAreMethods) {
  EXPECT_EQ(methodOfArgument("1"), kJackknife);
  EXPECT_EQ(methodOfArgument("2"), kBootstrap);
  for (const char *text : {"", "1abc", "1.9", "+1", "01", " 2", "2 ", "3"})
    EXPECT_EQ(methodOfArgument(text), 0) << text;
}

// Boundaries of the size: 0 and 2^31-1 are taken, 2^31 and anything but plain digits are not.
TEST(Arguments, ResamplingSizeIsAWholeNumberFromZeroTo2147483647) {
  int size = -1;
  EXPECT_EQ(parseResamplingSize("0", size), "");
  EXPECT_EQ(size, 0);
  EXPECT_EQ(parseResamplingSize("2147483647", size), "");
  EXPECT_EQ(size, 2147483647);
  EXPECT_EQ(parseResamplingSize("0200", size), "");
  EXPECT_EQ(size, 200);
  size = 7;
  for (const char *text :
       {"2147483648", "4294967298", "99999999999", "3x", "-1", "+5", "1e3", "", " 4"}) {
    EXPECT_EQ(parseResamplingSize(text, size),
              "resampling_size '" + std::string(text) +
                  "' is not a whole decimal number from 0 to 2147483647\n");
    EXPECT_EQ(size, 7) << text;
  }
}

TEST(Arguments, AJackknifeNeedsTwoSubjectsABootstrapOne) {
  EXPECT_EQ(resamplingPlanProblem(kJackknife, 2, 2, "l"), "");
  EXPECT_EQ(resamplingPlanProblem(kBootstrap, 1, 5, "l"), "");
  EXPECT_EQ(resamplingPlanProblem(kJackknife, 1, 1, "l"),
            "file list l holds 1 subject; a jackknife needs at least 2, since each iteration "
            "leaves one out\n");
  EXPECT_NE(resamplingPlanProblem(kBootstrap, 3, 0, "l").find("nothing to resample"),
            std::string::npos);
}
