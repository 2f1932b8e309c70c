#include "bn/dag.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> parentsOf(const Dag &dag, int node) {
  std::vector<int> out = {99}; // stale content must be cleared
  dag.getParents(out, node);
  return out;
}

std::vector<int> linksOf(const Dag &dag) {
  std::vector<int> out;
  dag.getLinks(out);
  return out;
}

} // namespace

TEST(DagArcs, DuplicateAddStoresOnce) {
  Dag dag(3);
  dag.set(0, 1, 1);
  dag.set(0, 1, 1);
  std::vector<int> out;
  EXPECT_EQ(dag.getLinks(out), 1);
  EXPECT_EQ(out, (std::vector<int>{0, 1}));
  EXPECT_EQ(dag.get(0, 1), 1);
  EXPECT_EQ(dag.get(1, 0), 0);
}

TEST(DagArcs, AnyValueOtherThanOneRemoves) {
  for (const int value : {0, 2, -5}) {
    Dag dag(3);
    dag.set(0, 2, 1);
    dag.set(1, 2, 1);
    dag.set(0, 2, value);
    EXPECT_EQ(linksOf(dag), (std::vector<int>{1, 2})) << "value " << value;
  }
}

TEST(DagArcs, RemovingAnAbsentArcChangesNothing) {
  Dag dag(3);
  dag.set(2, 1, 1);
  dag.set(0, 1, 1);
  dag.set(1, 0, 0);
  EXPECT_EQ(linksOf(dag), (std::vector<int>{2, 1, 0, 1}));
}

TEST(DagArcs, RemovingTheMiddleArcKeepsTheOthersInOrder) {
  Dag dag(4);
  dag.set(3, 0, 1);
  dag.set(1, 2, 1);
  dag.set(2, 0, 1);
  dag.set(1, 2, 0);
  EXPECT_EQ(linksOf(dag), (std::vector<int>{3, 0, 2, 0}));
}

TEST(DagArcs, CleanDropsMarkersOnly) {
  Dag dag(3);
  dag.setLinks({-1, -1, 2, 0, -1, -1, 1, 0});
  dag.clean();
  EXPECT_EQ(linksOf(dag), (std::vector<int>{2, 0, 1, 0}));
}

TEST(DagArcs, ParentsAndChildrenAscendingWhateverTheInsertionOrder) {
  Dag dag(5);
  dag.set(2, 0, 1);
  dag.set(1, 0, 1);
  dag.set(3, 0, 1);
  dag.set(1, 4, 1);
  dag.set(1, 2, 1);
  EXPECT_EQ(parentsOf(dag, 0), (std::vector<int>{1, 2, 3}));
  std::vector<int> children = {7};
  dag.getChildren(children, 1);
  EXPECT_EQ(children, (std::vector<int>{0, 2, 4}));
  EXPECT_TRUE(parentsOf(dag, 3).empty());
}

TEST(DagArcs, SelfArcIsBothParentAndChild) {
  Dag dag(2);
  dag.set(1, 1, 1);
  EXPECT_EQ(parentsOf(dag, 1), (std::vector<int>{1}));
  std::vector<int> children;
  dag.getChildren(children, 1);
  EXPECT_EQ(children, (std::vector<int>{1}));
}

TEST(DagArcs, DisplayListsArcsInInsertionOrder) {
  Dag dag(4);
  dag.set(2, 0, 1);
  dag.set(1, 0, 1);
  dag.set(3, 0, 1);
  testing::internal::CaptureStdout();
  dag.display();
  dag.showArc();
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_EQ(text, "2 --> 0\n1 --> 0\n3 --> 0\n2 --> 0\n1 --> 0\n3 --> 0\n");
}

TEST(DagBounds, OutOfRangeIdsAreReportedAndIgnored) {
  Dag dag(3);
  testing::internal::CaptureStderr();
  dag.set(0, 3, 1);
  dag.set(-1, 0, 1);
  EXPECT_EQ(dag.get(-1, 0), -1000);
  EXPECT_EQ(dag.get(0, 3), -1000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "DAG::set out of bound\nDAG::set out of bound\nout of bound\nout of bound\n");
  EXPECT_TRUE(linksOf(dag).empty());
}

TEST(DagSize, SetSizeRemovesArcsEvenWhenUnchanged) {
  Dag dag(3);
  dag.set(0, 1, 1);
  dag.setSize(3);
  EXPECT_EQ(dag.getSize(), 3);
  EXPECT_TRUE(linksOf(dag).empty());
  dag.set(0, 1, 1);
  dag.clear();
  EXPECT_EQ(dag.getSize(), 3);
  EXPECT_TRUE(linksOf(dag).empty());
}

TEST(DagCopy, CopiesAreIndependent) {
  Dag original(3);
  original.set(0, 2, 1);
  Dag constructed(original);
  Dag copied;
  copy_dag(copied, original);
  original.set(1, 2, 1);
  original.set(0, 2, 0);
  for (const Dag *copy : {&constructed, &copied}) {
    EXPECT_EQ(copy->getSize(), 3);
    EXPECT_EQ(linksOf(*copy), (std::vector<int>{0, 2}));
  }
}

// The one-pass lists must agree with getParents node by node, including arcs whose child lies
// outside the graph (left out) and parents listed in any order.
TEST(DagParentLists, AgreeWithGetParentsForEveryNode) {
  Dag dag(5);
  dag.setLinks({4, 2, 1, 2, 0, 1, 3, 2, 2, 4, 0, 9, 1, -1, 3, 0});
  std::vector<int> offsets = {7};
  std::vector<int> parents = {7, 7};
  dag.getParentLists(offsets, parents);
  ASSERT_EQ(offsets, (std::vector<int>{0, 1, 2, 5, 5, 6}));
  EXPECT_EQ(parents, (std::vector<int>{3, 0, 1, 3, 4, 2}));
  for (int node = 0; node < 5; ++node)
    EXPECT_EQ(
        std::vector<int>(parents.begin() + offsets[node], parents.begin() + offsets[node + 1]),
        parentsOf(dag, node))
        << "node " << node;

  Dag empty(3);
  empty.getParentLists(offsets, parents);
  EXPECT_EQ(offsets, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(parents.empty());
}
