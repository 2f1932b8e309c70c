// The lattice layout built straight from the voxels must equal the layout built from the
// neighbour lists of create_nbhd_system_kclustering, slot for slot.
#include <gtest/gtest.h>

#include <random>

#include "segment/lbp.h"
#include "segment/neighborhood.h"

namespace {

void expectSameLayout(int representative, const std::vector<int> &candidates,
                      const std::vector<int> &dims) {
  std::vector<std::vector<int>> nbhd;
  create_nbhd_system_kclustering(nbhd, representative, candidates, dims);
  LbpGraph fromLists;
  build_lbp_graph(fromLists, representative, candidates, nbhd, dims);
  LbpGraph direct;
  build_lattice_lbp_graph(direct, representative, candidates, dims);
  EXPECT_EQ(direct.slotOffset, fromLists.slotOffset);
  EXPECT_EQ(direct.reverseSlot, fromLists.reverseSlot);
  EXPECT_EQ(direct.readSlot, fromLists.readSlot);
  EXPECT_EQ(direct.writeSlot, fromLists.writeSlot);
  EXPECT_EQ(direct.neighbourNode, fromLists.neighbourNode);
  EXPECT_EQ(direct.maxDegree, fromLists.maxDegree);
  EXPECT_EQ(direct.groupWidth, fromLists.groupWidth);
  EXPECT_EQ(direct.groupedNodes, fromLists.groupedNodes);
  EXPECT_EQ(direct.ungroupedNodes, fromLists.ungroupedNodes);
}

TEST(LatticeGraph, EqualsTheLayoutOfTheNeighbourLists) {
  std::mt19937 random(3);
  const std::vector<std::vector<int>> shapes = {{7, 6, 5}, {1, 9, 4}, {8, 1, 3},
                                                {6, 5, 1}, {3, 3, 3}, {1, 1, 6}};
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
      expectSameLayout(representative, members, dims);
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
