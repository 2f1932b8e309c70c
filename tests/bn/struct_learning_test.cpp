#include "bn/struct_learning.h"

#include <gtest/gtest.h>

#include <string>

#include "bn/bn_fixtures.h"

namespace {

std::string learn(BN &result, Samples &data) {
  testing::internal::CaptureStdout();
  struct_learning(result, data);
  return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(StructLearning, OneColumnPrintsOnlyTheHeader) {
  Samples data;
  bntest::fillSamples(data, {"0", "1", "1"});
  BN result;
  EXPECT_EQ(learn(result, data), "BN Structure Learning\nsamples 3\nnumber of nodes = 1\n"
                                 "node order\n0 \nnode value\n2 \nInit. DAG\n");
  EXPECT_EQ(result.getNodeCount(), 1);
  std::vector<int> links;
  EXPECT_EQ(result.getDag().getLinks(links), 0);
}

TEST(StructLearning, IdenticalColumnsGainOneArc) {
  // Empty score ln(10! 10! / 21!) = -15.1713; with the parent -2 ln 11 = -4.7958.
  std::vector<std::string> rows(10, "00");
  rows.insert(rows.end(), 10, "11");
  Samples data;
  bntest::fillSamples(data, rows);
  BN result;
  EXPECT_EQ(learn(result, data), "BN Structure Learning\nsamples 20\nnumber of nodes = 2\n"
                                 "node order\n0 1 \nnode value\n2 2 \nInit. DAG\n"
                                 "\nround 1, node=2 empty score -15.1713\n"
                                 "Add 1 --> 2 , pr_b=-4.7958\n");
  std::vector<int> links;
  EXPECT_EQ(result.getDag().getLinks(links), 1);
  EXPECT_EQ(links, (std::vector<int>{0, 1}));
  EXPECT_EQ(result.getCPD(1), (std::vector<double>{1, 4, 0, 0, 0, 0}));
}

TEST(StructLearning, IndependentChildGetsNoParentAndTiesGoToTheEarliest) {
  // Eight cases: node 1 is balanced within each state of node 0, so its round prints only
  // the empty score ln(4! 4! / 9!). Nodes 2 and 3 copy node 0.
  std::vector<std::string> rows;
  for (int c = 0; c < 8; ++c) {
    const char a = c % 2 ? '1' : '0';
    const char b = c / 2 % 2 ? '1' : '0';
    rows.push_back(std::string{a, b, a, a});
  }
  Samples data;
  bntest::fillSamples(data, rows);
  BN result;
  const std::string out = learn(result, data);
  EXPECT_NE(out.find("\nround 1, node=2 empty score -6.4457\n\nround 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Add 1 --> 3 ,"), std::string::npos) << out;
  EXPECT_EQ(out.find("--> 2 ,"), std::string::npos) << out;
  std::vector<int> parents;
  result.getDag().getParents(parents, 2);
  EXPECT_EQ(parents, (std::vector<int>{0}));
  // Node 3: parents 0 and 2 score the same and the earliest wins; adding node 2 afterwards
  // only equals the best score, which is not an improvement.
  result.getDag().getParents(parents, 3);
  EXPECT_EQ(parents, (std::vector<int>{0}));
  EXPECT_EQ(out.find("Add 3 --> 4"), std::string::npos) << out;
}
