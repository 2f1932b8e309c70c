#include "segment/neighborhood.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"

using Lists = std::vector<std::vector<int>>;

namespace {

// (0, index) pairs from plain indices.
std::vector<int> pairs(const std::vector<int> &indices) {
  std::vector<int> out;
  for (int v : indices) {
    out.push_back(0);
    out.push_back(v);
  }
  return out;
}

std::vector<int> allIdsBut(int volume, int representative) {
  std::vector<int> ids;
  for (int id = 1; id <= volume; ++id)
    if (id != representative)
      ids.push_back(id);
  return ids;
}

// A neighbourhood file listing for every voxel all its lattice neighbours in the lattice order.
std::string latticeFile(const std::vector<int> &xyz) {
  const int volume = xyz[0] * xyz[1] * xyz[2];
  const std::vector<char> everyone(volume, '0');
  std::string text;
  std::vector<int> list;
  for (int v = 0; v < volume; ++v) {
    voxel_get_neighbor_id(list, v, everyone.data(), xyz, 2);
    text += std::to_string(list.size() / 2);
    for (std::size_t k = 1; k < list.size(); k += 2)
      text += " " + std::to_string(list[k] + 1);
    text += "\n";
  }
  return text;
}

Lists fromFileQuietly(int representative, const std::vector<int> &candidates,
                      const std::vector<int> &xyz, std::string *out = nullptr) {
  Lists nbhd{{1, 2}};
  testing::internal::CaptureStdout();
  create_nbhd_system_fromfile(nbhd, representative, candidates, xyz);
  const std::string printed = testing::internal::GetCapturedStdout();
  if (out != nullptr)
    *out = printed;
  return nbhd;
}

} // namespace

TEST(LatticeNeighbourhood, ThreeCubeCentreAndCornerInTableOrder) {
  const std::vector<int> xyz{3, 3, 3};
  Lists nbhd{{7}};
  create_nbhd_system_kclustering(nbhd, 14, allIdsBut(27, 14), xyz);
  ASSERT_EQ(nbhd.size(), 27u);
  EXPECT_EQ(nbhd.back(), pairs({4, 9, 12, 15, 10, 16, 11, 14, 17, 22}));
  // Voxel id 1 is the first candidate: only offsets (0,+1,0), (+1,0,0), (+1,+1,0), (0,0,+1).
  EXPECT_EQ(nbhd[0], pairs({3, 1, 4, 9}));
}

TEST(LatticeNeighbourhood, OnlyMembersAreListedAndNoDiagonalsAcrossSlices) {
  const std::vector<int> xyz{3, 3, 3};
  // The centre's slice below holds only a diagonal member (index 0); above, the face voxel 22.
  Lists nbhd;
  create_nbhd_system_kclustering(nbhd, 14, {1, 23, 13}, xyz);
  ASSERT_EQ(nbhd.size(), 4u);
  EXPECT_EQ(nbhd[0], pairs({}));
  EXPECT_EQ(nbhd[1], pairs({13}));
  EXPECT_EQ(nbhd[2], pairs({13}));
  EXPECT_EQ(nbhd[3], pairs({12, 22}));
}

TEST(LatticeNeighbourhood, SingleSliceAndEmptyCandidateSet) {
  const std::vector<int> xyz{4, 4, 1};
  Lists nbhd;
  // Id 6 is (1,1); id 16 is (3,3), two steps away from every other member.
  create_nbhd_system_kclustering(nbhd, 6, {1, 16, 7}, xyz);
  ASSERT_EQ(nbhd.size(), 4u);
  EXPECT_EQ(nbhd[0], pairs({5}));
  EXPECT_EQ(nbhd[1], pairs({}));
  EXPECT_EQ(nbhd[2], pairs({5}));
  EXPECT_EQ(nbhd[3], pairs({0, 6}));

  create_nbhd_system_kclustering(nbhd, 6, {}, xyz);
  ASSERT_EQ(nbhd.size(), 1u);
  EXPECT_TRUE(nbhd[0].empty());
}

TEST(LatticeNeighbourhood, NeighbourOffsetsStayWithinAnUnevenVolume) {
  // Every listed neighbour lies within one step in x and y and shares the slice, or is the face
  // neighbour across a slice; the relation is symmetric.
  const std::vector<int> xyz{4, 3, 2};
  const std::vector<char> everyone(24, '0');
  std::vector<int> list;
  std::vector<std::vector<int>> all(24);
  for (int v = 0; v < 24; ++v) {
    voxel_get_neighbor_id(all[v], v, everyone.data(), xyz, 2);
    for (std::size_t k = 1; k < all[v].size(); k += 2) {
      const int u = all[v][k];
      const int dx = u % 4 - v % 4, dy = (u / 4) % 3 - (v / 4) % 3, dz = u / 12 - v / 12;
      if (dz != 0)
        EXPECT_TRUE(dx == 0 && dy == 0) << v << " -> " << u;
      else
        EXPECT_TRUE(std::abs(dx) <= 1 && std::abs(dy) <= 1 && (dx != 0 || dy != 0));
    }
  }
  for (int v = 0; v < 24; ++v)
    for (std::size_t k = 1; k < all[v].size(); k += 2) {
      const std::vector<int> &back = all[all[v][k]];
      bool found = false;
      for (std::size_t j = 1; j < back.size(); j += 2)
        found = found || back[j] == v;
      EXPECT_TRUE(found) << v << " -> " << all[v][k];
    }
  // Corner (3, 2, 1): the face below, then (2,1), (2,2) and (3,1) in the table's order.
  voxel_get_neighbor_id(list, 23, everyone.data(), xyz, 2);
  EXPECT_EQ(list, pairs({11, 18, 22, 19}));
}

TEST(LatticeNeighbourhood, VoxelIdOutsideTheVolumeEndsWithStatusOne) {
  Lists nbhd;
  EXPECT_EXIT(create_nbhd_system_kclustering(nbhd, 3, {1, 9}, {2, 2, 2}),
              testing::ExitedWithCode(1), "voxel id 9 is outside 1..8");
  EXPECT_EXIT(create_nbhd_system_kclustering(nbhd, 0, {1}, {2, 2, 2}), testing::ExitedWithCode(1),
              "voxel id 0 is outside 1..8");
}

TEST(FileNeighbourhood, AgreesWithTheLatticeForAscendingCandidates) {
  testsupport::ScopedTempDir dir;
  const std::vector<int> xyz{4, 3, 3};
  testsupport::writeFile("nbhd_system.torva", latticeFile(xyz));
  const std::vector<int> candidates{1, 2, 5, 6, 7, 14, 17, 18, 19, 30, 31, 36};
  Lists lattice;
  create_nbhd_system_kclustering(lattice, 18, allIdsBut(36, 18), xyz);
  std::string printed;
  EXPECT_EQ(fromFileQuietly(18, allIdsBut(36, 18), xyz, &printed), lattice);
  EXPECT_EQ(printed, "Total 36 voxels, 36 are used for clustering\n");

  create_nbhd_system_kclustering(lattice, 18, candidates, xyz);
  EXPECT_EQ(fromFileQuietly(18, candidates, xyz, &printed), lattice);
  EXPECT_EQ(printed, "Total 36 voxels, 13 are used for clustering\n");
}

TEST(FileNeighbourhood, KeepsFileOrderDuplicatesAndSelfListing) {
  testsupport::ScopedTempDir dir;
  // Voxel 1 lists 3, itself, 2 (not a member) and 3 again; voxel 3 lists 1 and 4.
  testsupport::writeFile("nbhd_system.torva", "4 3 1 2 3\n1 1\n2 1 4\n1 3\n");
  const Lists nbhd = fromFileQuietly(4, {1, 3}, {4, 1, 1});
  EXPECT_EQ(nbhd, (Lists{pairs({2, 0, 2}), pairs({0, 3}), pairs({2})}));
}

TEST(FileNeighbourhood, ListsFollowTheCandidateOrder) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("nbhd_system.torva", latticeFile({5, 1, 1}));
  Lists lattice;
  create_nbhd_system_kclustering(lattice, 3, {5, 1, 4, 2}, {5, 1, 1});
  EXPECT_EQ(fromFileQuietly(3, {5, 1, 4, 2}, {5, 1, 1}), lattice);
}

TEST(FileNeighbourhood, MissingFileKeepsItsMessageAndEndsWithStatusOne) {
  testsupport::ScopedTempDir dir;
  Lists nbhd;
  EXPECT_EXIT(
      {
        std::freopen("printed.txt", "w", stdout);
        create_nbhd_system_fromfile(nbhd, 2, {1}, {2, 1, 1});
      },
      testing::ExitedWithCode(1), "");
  EXPECT_EQ(testsupport::readFile("printed.txt"),
            "Total 2 voxels, 2 are used for clustering\nFile nhbd_system.torva not exist\n");
}

TEST(FileNeighbourhood, MalformedFilesAreRefusedNamingFileAndVoxel) {
  testsupport::ScopedTempDir dir;
  Lists nbhd;
  struct Case {
    const char *text;
    const char *message;
  };
  const Case cases[] = {
      {"1 2\n1 1\n1 2\n", "nbhd_system.torva ends before the record of voxel 4; the volume has 4"},
      {"1 2\n2 1\n", "nbhd_system.torva ends inside the record of voxel 2: 2 neighbour ids "
                     "announced, 1 found"},
      {"1 2\n1 1\n1 x4\n0\n", "nbhd_system.torva: the record of voxel 3 holds \"x4\", which is "
                              "not an integer"},
      {"1 2\n1 1.5\n0\n0\n", "the record of voxel 2 holds \"1.5\""},
      {"-1\n0\n0\n0\n", "the record of voxel 1 has a negative neighbour count -1"},
      {"1 2\n1 5\n0\n0\n", "the record of voxel 2 lists voxel id 5, outside 1..4"},
      {"0\n0\n0\n1 0\n", "the record of voxel 4 lists voxel id 0, outside 1..4"},
      // Voxel 3 is no member, but its record is still part of the file. Ids and counts of 13
      // digits or more are shown whole, within long long or beyond it.
      {"1 2\n1 1\n1 99999999999999999999\n0\n",
       "voxel 3 lists voxel id 99999999999999999999, outside 1..4"},
      {"1 2\n1 1\n1 1234567890123456\n0\n", "voxel 3 lists voxel id 1234567890123456, outside"},
      {"1 2\n1 1\n1 -1234567890123456\n0\n", "voxel 3 lists voxel id -1234567890123456, outside"},
      {"1 2\n1 1\n0\n1234567890123456 1\n",
       "voxel 4: 1234567890123456 neighbour ids announced, 1 found"},
      {"1 2\n1 1\n0\n99999999999999999999 1\n",
       "voxel 4: 99999999999999999999 neighbour ids announced, 1 found"},
      {"-99999999999999999999\n0\n0\n0\n",
       "voxel 1 has a negative neighbour count -99999999999999999999"},
      {"1 2\n0\n0\n0\n", "nbhd_system.torva: voxel 1 lists voxel 2, but voxel 2 does not list "
                         "voxel 1"},
  };
  for (const Case &c : cases) {
    testsupport::writeFile("nbhd_system.torva", c.text);
    EXPECT_EXIT(
        {
          std::freopen("printed.txt", "w", stdout);
          create_nbhd_system_fromfile(nbhd, 2, {1, 4}, {4, 1, 1});
        },
        testing::ExitedWithCode(1), c.message)
        << c.text;
  }
}

TEST(FileNeighbourhood, AsymmetryOutsideTheMembersIsAccepted) {
  testsupport::ScopedTempDir dir;
  // Voxel 3 (no member) lists 1 one-sidedly; that edge never reaches the segmentation set.
  testsupport::writeFile("nbhd_system.torva", "1 2\n1 1\n1 1\n0\n");
  EXPECT_EQ(fromFileQuietly(2, {1}, {4, 1, 1}), (Lists{pairs({1}), pairs({0})}));
}
