#include "bn/bn.h"

#include <gtest/gtest.h>

#include "bn/bn_fixtures.h"

namespace {

using Table = std::vector<double>;

} // namespace

TEST(BnTables, TwoNodeCountsThenProbabilities) {
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  EXPECT_EQ(bn.getCPD(0), (Table{0, 2, 11, 9}));
  // configuration 0 child 0, configuration 1 child 0, configuration 0 child 1, ...
  EXPECT_EQ(bn.getCPD(1), (Table{1, 4, 10, 0, 1, 9}));

  bn.paramLearning(data);
  const Table &root = bn.getCPD(0);
  EXPECT_DOUBLE_EQ(root[2], 12.0 / 22);
  EXPECT_DOUBLE_EQ(root[3], 10.0 / 22);
  const Table &child = bn.getCPD(1);
  EXPECT_DOUBLE_EQ(child[2], 11.0 / 13);
  EXPECT_DOUBLE_EQ(child[3], 1.0 / 11);
  EXPECT_DOUBLE_EQ(child[4], 2.0 / 13);
  EXPECT_DOUBLE_EQ(child[5], 10.0 / 11);
  EXPECT_EQ(child[0], 1.0);
  EXPECT_EQ(child[1], 4.0);
}

TEST(BnTables, UnseenConfigurationBecomesUniform) {
  // Node 0 is never in state 2, so configuration 2 of node 1 has no cases.
  Samples data;
  bntest::fillSamples(data, {"00", "11", "10", "01"}, 3);
  BN bn;
  bn.setSize(2, {3, 3});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  bn.getSuffStat(data);
  bn.paramLearning(data);
  const Table &child = bn.getCPD(1);
  ASSERT_EQ(child.size(), 11u);
  for (int k = 0; k < 3; ++k)
    EXPECT_DOUBLE_EQ(child[2 + 2 + k * 3], 1.0 / 3);
  EXPECT_DOUBLE_EQ(child[2 + 0 + 0 * 3], 2.0 / 5); // (1 + 1) / ((1 + 1) + (1 + 1) + (0 + 1))
}

TEST(BnTables, ConfigurationPositionsOfTwoParents) {
  // Parents 2 and 5 of node 7: (s2, s5, s7) = (1, 0, 1) lands at 2 + 1 + 1*4 = 7 and
  // (0, 1, 0) at 2 + 2 = 4.
  Samples data;
  bntest::fillSamples(data, {"00100001", "00000100"});
  BN bn;
  bn.setSize(8, std::vector<int>(8, 2));
  Dag dag(8);
  dag.set(5, 7, 1);
  dag.set(2, 7, 1);
  bn.setDag(dag);
  bn.getSuffStatNode(data, 7);
  Table expected(10, 0.0);
  expected[0] = 7;
  expected[1] = 8;
  expected[7] = 1;
  expected[4] = 1;
  EXPECT_EQ(bn.getCPD(7), expected);
  std::vector<int> sizes;
  bn.getCPDVectorSize(sizes);
  EXPECT_EQ(sizes, (std::vector<int>{2, 2, 2, 2, 2, 2, 2, 8}));
}

TEST(BnTables, SetDagAgainResetsCounts) {
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  EXPECT_EQ(bn.getCPD(1), (Table{1, 4, 0, 0, 0, 0}));
}

TEST(BnTables, CountWithoutSetDagStoresNothing) {
  Samples data;
  bntest::fillSamples(data, bntest::twoNodeRows());
  BN bn;
  bn.setSize(2, {2, 2});
  bn.getSuffStat(data);
  EXPECT_TRUE(bn.getCPD(0).empty());
  EXPECT_EQ(bn.K2ScoreNode(0, 1), 0.0);
}

TEST(BnMisuse, SetSizeWithMismatchedListKeepsNodesButEmptiesGraph) {
  BN bn;
  bn.setSize(2, {2, 2});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  testing::internal::CaptureStderr();
  bn.setSize(3, {2, 2});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "BN::setSize BN Init Error::nNodes!=ns.size()");
  EXPECT_EQ(bn.getNodeCount(), 2);
  EXPECT_EQ(bn.getDag().getSize(), 3);
  std::vector<int> links;
  EXPECT_EQ(bn.getDag().getLinks(links), 0);
  EXPECT_TRUE(bn.getCPD(0).empty());

  testing::internal::CaptureStderr();
  bn.setDag(Dag(3));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "BN::setDag error: numNodes!=dag.size");
  EXPECT_TRUE(bn.getCPD(0).empty());
}

TEST(BnMisuse, InvalidCellIsSkippedNotCounted) {
  Samples data;
  bntest::fillSamples(data, {"00", "11", "12", "1/"});
  BN bn;
  bn.setSize(2, {2, 2});
  Dag dag(2);
  dag.set(0, 1, 1);
  bn.setDag(dag);
  testing::internal::CaptureStderr();
  bn.getSuffStatNode(data, 1);
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_NE(message.find("case 2 of column 1"), std::string::npos) << message;
  EXPECT_NE(message.find("case 3 of column 1"), std::string::npos) << message;
  EXPECT_EQ(bn.getCPD(1), (Table{1, 4, 1, 0, 0, 1}));
}

TEST(BnCopy, CopyBnCarriesGraphAndTables) {
  BN bn;
  Samples data;
  bntest::countTwoNodeNetwork(bn, data);
  BN copy;
  copy_bn(copy, bn);
  EXPECT_EQ(copy.getNodeCount(), 2);
  EXPECT_EQ(copy.getNames(), (std::vector<std::string>{"node0", "node1"}));
  EXPECT_EQ(copy.getDag().get(0, 1), 1);
  EXPECT_EQ(copy.getCPD(1), bn.getCPD(1));
  EXPECT_EQ(copy.getCPD(0), bn.getCPD(0));
}
