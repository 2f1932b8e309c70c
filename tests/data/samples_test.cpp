#include "data/samples.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Five nodes, two cases: node i of case c holds '0' + ((i + c) % 2).
void fillAlternating(Samples &s) {
  s.setSize(5, 2);
  for (long c = 0; c < 2; ++c)
    for (long i = 0; i < 5; ++i)
      s.setCell(c, i, static_cast<char>('0' + (i + c) % 2));
}

} // namespace

TEST(SamplesSize, NodesComeFirstAndEveryNodeHasTwoStates) {
  Samples s;
  s.setSize(3, 0);
  long nodes = -1;
  long cases = -1;
  s.getSize(nodes, cases);
  EXPECT_EQ(nodes, 3);
  EXPECT_EQ(cases, 0);
  std::vector<int> ns;
  s.getNs(ns);
  EXPECT_EQ(ns, (std::vector<int>{2, 2, 2}));
  std::vector<int> xyz;
  s.getXYZSiz(xyz);
  EXPECT_EQ(xyz, (std::vector<int>{0, 0, 0}));
}

TEST(SamplesSize, ResizingClearsExtentsSetBefore) {
  Samples s;
  s.setSize(2, 2);
  s.setXYZSiz(4, 5, 6);
  std::vector<int> xyz;
  s.getXYZSiz(xyz);
  EXPECT_EQ(xyz, (std::vector<int>{4, 5, 6}));
  s.setSize(2, 3);
  s.getXYZSiz(xyz);
  EXPECT_EQ(xyz, (std::vector<int>{0, 0, 0}));
}

TEST(SamplesColumns, SetThenGetRoundTripsAColumnCaseByCase) {
  Samples s;
  s.setSize(3, 4);
  const char column[] = {'1', '0', '0', '1'};
  s.setOneNode(column, 1);
  char out[4] = {};
  s.getOneNode(out, 1);
  EXPECT_EQ(std::string(out, 4), "1001");
  EXPECT_EQ(s.cell(3, 1), '1');
  EXPECT_EQ(s.cell(1, 1), '0');
}

TEST(SamplesColumns, OutOfRangeNodeReportsAndLeavesDestinationUntouched) {
  Samples s;
  s.setSize(2, 3);
  char out[3] = {'x', 'y', 'z'};
  testing::internal::CaptureStderr();
  s.getOneNode(out, 2);
  s.getOneNode(out, -1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Samples::getOneNode: out of boundSamples::getOneNode: out of bound");
  EXPECT_EQ(std::string(out, 3), "xyz");
  testing::internal::CaptureStderr();
  s.setOneNode(out, 5);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Samples::setOneNode: out of bound");
}

TEST(SubsetNode, RepeatsAndReordersListedNodesKeepingCharacterCells) {
  Samples src;
  fillAlternating(src);
  src.setXYZSiz(1, 2, 2);
  Samples dst;
  subset_node(dst, src, {4, 4, 0});
  long nodes = 0;
  long cases = 0;
  dst.getSize(nodes, cases);
  EXPECT_EQ(nodes, 3);
  EXPECT_EQ(cases, 2);
  // Node 4 of case 0 is '0', of case 1 '1'; node 0 of case 0 is '0', of case 1 '1'.
  EXPECT_EQ(dst.cell(0, 0), '0');
  EXPECT_EQ(dst.cell(0, 1), '0');
  EXPECT_EQ(dst.cell(1, 0), '1');
  EXPECT_EQ(dst.cell(1, 2), '1');
  std::vector<int> xyz;
  dst.getXYZSiz(xyz);
  EXPECT_EQ(xyz, (std::vector<int>{0, 0, 0}));
}

TEST(SubsetNode, CopiesTheStateCountsOfTheListedNodes) {
  Samples src;
  fillAlternating(src);
  src.setNs({2, 3, 4, 5, 6});
  Samples dst;
  subset_node(dst, src, {3, 1});
  std::vector<int> ns;
  dst.getNs(ns);
  EXPECT_EQ(ns, (std::vector<int>{5, 3}));
}
