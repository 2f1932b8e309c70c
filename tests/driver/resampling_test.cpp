#include "driver/resampling.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "support/temp_dir.h"
#include "util/extra.h"

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
