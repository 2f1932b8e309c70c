// The lattice layout built straight from the voxels must equal the layout built from the
// neighbour lists of create_nbhd_system_kclustering, slot for slot; only its message places
// differ, and those must deliver every message to its receiver.
#include <gtest/gtest.h>

#include <random>

#include "segment/lbp.h"
#include "segment/neighborhood.h"

namespace {

// Everything but where the messages are stored, which differs by design.
void expectSameNeighbours(const LbpGraph &a, const LbpGraph &b) {
  EXPECT_EQ(a.slotOffset, b.slotOffset);
  EXPECT_EQ(a.reverseSlot, b.reverseSlot);
  EXPECT_EQ(a.neighbourNode, b.neighbourNode);
  EXPECT_EQ(a.maxDegree, b.maxDegree);
  EXPECT_EQ(a.groupWidth, b.groupWidth);
  EXPECT_EQ(a.groupedNodes, b.groupedNodes);
  EXPECT_EQ(a.ungroupedNodes, b.ungroupedNodes);
  EXPECT_EQ(a.slabNodes, b.slabNodes);
  EXPECT_EQ(a.slabStart, b.slabStart);
  EXPECT_EQ(a.slabGrouped, b.slabGrouped);
  EXPECT_EQ(a.slabUngrouped, b.slabUngrouped);
}

void expectSameGraph(const LbpGraph &a, const LbpGraph &b) {
  expectSameNeighbours(a, b);
  EXPECT_EQ(a.readSlot, b.readSlot);
  EXPECT_EQ(a.writeSlot, b.writeSlot);
  EXPECT_EQ(a.messageSlots, b.messageSlots);
}

// Each slot reads a place of its own and writes a place of its own, and the place a slot reads
// is the one its neighbour's reverse slot writes: then every message reaches its receiver and
// none overwrites another within a sweep.
void expectMessagesMeet(const LbpGraph &graph) {
  const std::size_t slots = graph.reverseSlot.size();
  ASSERT_EQ(graph.readSlot.size(), slots);
  ASSERT_EQ(graph.writeSlot.size(), slots);
  std::vector<int> readers(static_cast<std::size_t>(graph.messageSlots), 0);
  std::vector<int> writers(static_cast<std::size_t>(graph.messageSlots), 0);
  for (std::size_t g = 0; g < slots; ++g) {
    ASSERT_GE(graph.reverseSlot[g], 0);
    for (const int place : {graph.readSlot[g], graph.writeSlot[g]}) {
      ASSERT_GE(place, 0);
      ASSERT_LT(place, graph.messageSlots);
    }
    EXPECT_EQ(++readers[graph.readSlot[g]], 1) << "slot " << g;
    EXPECT_EQ(++writers[graph.writeSlot[g]], 1) << "slot " << g;
    EXPECT_EQ(graph.writeSlot[graph.reverseSlot[g]], graph.readSlot[g]) << "slot " << g;
  }
}

// Also builds both layouts into graphs that held the previous case's, as the segmentation
// reuses one graph per thread: nothing of an earlier graph may survive a rebuild.
void expectSameLayout(int representative, const std::vector<int> &candidates,
                      const std::vector<int> &dims, LbpGraph &reusedDirect,
                      LbpGraph &reusedFromLists) {
  std::vector<std::vector<int>> nbhd;
  create_nbhd_system_kclustering(nbhd, representative, candidates, dims);
  LbpGraph fromLists;
  build_lbp_graph(fromLists, representative, candidates, nbhd, dims);
  LbpGraph direct;
  build_lattice_lbp_graph(direct, representative, candidates, dims);
  expectSameNeighbours(direct, fromLists);
  expectMessagesMeet(direct);
  build_lattice_lbp_graph(reusedDirect, representative, candidates, dims);
  expectSameGraph(reusedDirect, direct);
  build_lbp_graph(reusedFromLists, representative, candidates, nbhd, dims);
  expectSameGraph(reusedFromLists, fromLists);
}

TEST(LatticeGraph, EqualsTheLayoutOfTheNeighbourLists) {
  std::mt19937 random(3);
  const std::vector<std::vector<int>> shapes = {{7, 6, 5}, {1, 9, 4}, {8, 1, 3},
                                                {6, 5, 1}, {3, 3, 3}, {1, 1, 6}};
  LbpGraph reusedDirect;
  LbpGraph reusedFromLists;
  for (const auto &dims : shapes) {
    const int volume = dims[0] * dims[1] * dims[2];
    for (const int percent : {5, 40, 90, 100}) {
      std::vector<int> members;
      for (int id = 1; id <= volume; ++id)
        if (static_cast<int>(random() % 100) < percent)
          members.push_back(id);
      if (members.empty())
        members.push_back(1 + static_cast<int>(random() % volume));
      // The representative anywhere among the members; the others stay ascending.
      const std::size_t at = random() % members.size();
      const int representative = members[at];
      members.erase(members.begin() + static_cast<long>(at));
      ASSERT_TRUE(lattice_graph_applies(representative, members));
      SCOPED_TRACE(std::to_string(dims[0]) + "x" + std::to_string(dims[1]) + "x" +
                   std::to_string(dims[2]) + " at " + std::to_string(percent) + "%");
      expectSameLayout(representative, members, dims, reusedDirect, reusedFromLists);
    }
  }
}

TEST(LatticeGraph, AppliesOnlyToAscendingSetsWithoutTheRepresentative) {
  EXPECT_TRUE(lattice_graph_applies(5, {1, 2, 9}));
  EXPECT_TRUE(lattice_graph_applies(5, {}));
  EXPECT_FALSE(lattice_graph_applies(5, {1, 5, 9}));
  EXPECT_FALSE(lattice_graph_applies(5, {2, 1}));
  EXPECT_FALSE(lattice_graph_applies(5, {2, 2}));
}

} // namespace
