#include "segment/segmentation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "segment/lattice_lbp.h"
#include "support/temp_dir.h"

using Vec = std::vector<double>;

namespace {

using testsupport::countOf;

// A study of `cases` cases over an X x Y x Z volume (plus the function variable), every voxel
// in state 0 unless set.
struct Study {
  Samples samples;
  Study(int X, int Y, int Z, int cases) {
    samples.setSize(X * Y * Z + 1, cases);
    for (int c = 0; c < cases; ++c)
      for (int node = 0; node <= X * Y * Z; ++node)
        samples.setCell(c, node, '0');
    samples.setXYZSiz(X, Y, Z);
  }
  // Voxel `id` agrees with an all-zero representative in the first `agree` cases.
  void agreeIn(int id, int agree) {
    long nodes = 0, cases = 0;
    samples.getSize(nodes, cases);
    for (int c = agree; c < cases; ++c)
      samples.setCell(c, id - 1, '1');
  }
};

// The 7 x 1 x 1 study: candidates 2..6 agree with the representative 7 in 1, 2, 3, 8 and 9 of
// 10 cases, so their similarities are 0.1, 0.2, 0.3, 0.8, 0.9.
struct RowStudy : Study {
  RowStudy() : Study(7, 1, 1, 10) {
    const int agreements[] = {1, 2, 3, 8, 9};
    for (int i = 0; i < 5; ++i)
      agreeIn(i + 2, agreements[i]);
  }
};

struct Outcome {
  std::vector<int> region;
  Vec values;
  std::string out;
  std::string log;
};

Outcome segment(const Samples &samples, const std::vector<int> &candidates, int representative,
                int segmentationCount, int neighborhoodType = 0) {
  Outcome result;
  testing::internal::CaptureStdout();
  clustering_lbp_new(result.region, result.values, candidates, representative, samples, 1.0, 5, 5,
                     segmentationCount, neighborhoodType, 0);
  result.out = testing::internal::GetCapturedStdout();
  result.log = testsupport::readFile("log.torva");
  return result;
}

} // namespace

TEST(Similarity, FractionOfAgreeingCasesWithTheRepresentativeLast) {
  Study study(4, 1, 1, 10);
  study.agreeIn(1, 10);
  study.agreeIn(2, 0);
  study.agreeIn(3, 7);
  Vec s{5.0};
  compute_smap_kclustering(s, 4, {3, 1, 2}, study.samples);
  EXPECT_EQ(s, (Vec{1.0 - 3.0 / 10, 1.0, 0.0, 1.0}));
  EXPECT_DOUBLE_EQ(s[0], 0.7);
}

TEST(Similarity, MoreStatesGiveSquaredDifferences) {
  Study study(2, 1, 1, 4);
  // Candidate states 0, 2, 3, 0 against a representative of 0: D = 0 + 4 + 9 + 0.
  study.samples.setCell(1, 0, '2');
  study.samples.setCell(2, 0, '3');
  Vec s;
  compute_smap_kclustering(s, 2, {1}, study.samples);
  EXPECT_EQ(s, (Vec{1.0 - 13.0 / 4, 1.0}));
}

TEST(ClusteringLbpNew, RowStudyKeepsTheTwoClusterRegion) {
  testsupport::ScopedTempDir dir;
  const RowStudy study;
  const Outcome result = segment(study.samples, {2, 3, 4, 5, 6}, 7, -1);
  EXPECT_EQ(result.region, (std::vector<int>{5, 6, 7}));
  ASSERT_EQ(result.values.size(), 3u);
  EXPECT_DOUBLE_EQ(result.values[0], 0.8);
  EXPECT_DOUBLE_EQ(result.values[1], 0.9);
  EXPECT_EQ(result.values[2], 1.0);
  EXPECT_EQ(result.log, "R=7 cluster mean= 0.9 std= 0.0816497\n");
  EXPECT_NE(result.out.find("Init. GVRC= 73.5\n"), std::string::npos);
  EXPECT_NE(result.out.find("GVRC new= 1.09459 GVRC old= 73.5\n"), std::string::npos);
  EXPECT_EQ(countOf(result.out, "Summary:"), 2);
}

TEST(ClusteringLbpNew, RowStudyWithTheBestOfARange) {
  testsupport::ScopedTempDir dir;
  const RowStudy study;
  const Outcome result = segment(study.samples, {2, 3, 4, 5, 6}, 7, -2);
  EXPECT_EQ(result.region, (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(result.log, "R=7 cluster mean= 0.9 std= 0.0816497\n");
  // K = 2 .. 7, then K = 2 again; the runs for K = 4 .. 7 score 0.
  EXPECT_EQ(countOf(result.out, "Summary:"), 7);
  EXPECT_NE(result.out.find("GVRC= 73.5; GVRC*=0\n"), std::string::npos);
  EXPECT_NE(result.out.find("GVRC= 1.09459; GVRC*=73.5\n"), std::string::npos);
  EXPECT_EQ(countOf(result.out, "GVRC= 0; GVRC*=73.5\n"), 4);
  const std::size_t last = result.out.rfind("Summary:");
  EXPECT_EQ(result.out.substr(last, 44), "Summary: number of cluster=2, gvrc=73.500000");
}

TEST(ClusteringLbpNew, FixedCountRunsOnceAndMayLeaveTheRepresentativeAlone) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("log.torva", "TORVA Log\n");
  const RowStudy study;
  const Outcome result = segment(study.samples, {2, 3, 4, 5, 6}, 7, 3);
  // K = 3 labels the nodes [0, 1, 1, 1, 1, 2]: no candidate shares the representative's cluster.
  EXPECT_EQ(result.region, (std::vector<int>{7}));
  EXPECT_EQ(result.values, (Vec{1.0}));
  EXPECT_EQ(result.log, "TORVA Log\nR=7 cluster mean= 1 std= 0\n");
  const std::string sweeps =
      "Iteration 0 Iteration 1 Iteration 2 Iteration 3 Iteration 4 Free Memory\n";
  const std::string iteration = "cluster=0, mean=0.100000, size=1\n"
                                "cluster=1, mean=0.550000, size=4\n"
                                "cluster=2, mean=1.000000, size=1\n"
                                "GVRC= 1.09459\n";
  EXPECT_EQ(result.out, "Create Neighborhood System\n"
                        "end****\n"
                        "0.1 1\n"
                        "0.1 0.55 1 \n"
                        "_______________\n"
                        "GEM Iteration= 0\n" +
                            sweeps + iteration +
                            "_______________\n"
                            "GEM Iteration= 1\n" +
                            sweeps + iteration +
                            "***********\n"
                            "Summary: number of cluster=3, gvrc=1.094595\n"
                            "***********\n");
}

TEST(ClusteringLbpNew, EveryOtherCountSelectsForward) {
  testsupport::ScopedTempDir dir;
  const RowStudy study;
  const std::string forward = segment(study.samples, {2, 3, 4, 5, 6}, 7, -1).out;
  EXPECT_EQ(countOf(forward, "Summary:"), 2);
  for (int count : {1, 0, -3, -100}) {
    const Outcome result = segment(study.samples, {2, 3, 4, 5, 6}, 7, count);
    EXPECT_EQ(result.out, forward) << count;
    EXPECT_EQ(result.region, (std::vector<int>{5, 6, 7}));
  }
}

TEST(ClusteringLbpNew, ForwardSelectionAcceptsAtMostEightClusters) {
  testsupport::ScopedTempDir dir;
  // Forty isolated candidates whose similarities spread evenly over [0, 1): the GVRC rises with
  // every added cluster, so K = 9 is run and printed but K = 8 is kept.
  Study study(81, 1, 1, 40);
  std::vector<int> candidates;
  for (int i = 0; i < 40; ++i) {
    candidates.push_back(2 * i + 1);
    study.agreeIn(2 * i + 1, i);
  }
  const Outcome forward = segment(study.samples, candidates, 81, -1);
  EXPECT_EQ(countOf(forward.out, "Summary:"), 8);
  EXPECT_EQ(countOf(forward.out, "GVRC new= "), 7);
  EXPECT_NE(forward.out.find("Summary: number of cluster=9"), std::string::npos);
  const Outcome eight = segment(study.samples, candidates, 81, 8);
  EXPECT_EQ(forward.region, eight.region);
  EXPECT_EQ(forward.values, eight.values);
  EXPECT_GT(forward.region.size(), 1u);
}

TEST(ClusteringLbpNew, RangeFallsBackToTwoClustersWhenNoRunScoresAboveZero) {
  testsupport::ScopedTempDir dir;
  // Two nodes: (N - K) / (K - 1) truncates to 0 for every K of the range.
  Study study(2, 1, 1, 4);
  study.agreeIn(1, 1);
  const Outcome result = segment(study.samples, {1}, 2, -2);
  EXPECT_EQ(countOf(result.out, "Summary:"), 7);
  EXPECT_EQ(countOf(result.out, "; GVRC*=0\n"), 6);
  const std::size_t last = result.out.rfind("Summary:");
  EXPECT_EQ(result.out.substr(last, 29), "Summary: number of cluster=2,");
  EXPECT_EQ(result.region.back(), 2);
}

TEST(ClusteringLbpNew, FileNeighbourhoodGivesTheLatticeResult) {
  testsupport::ScopedTempDir dir;
  // Each voxel of the row lists its left and right neighbours.
  testsupport::writeFile("nbhd_system.torva", "1 2\n2 1 3\n2 2 4\n2 3 5\n2 4 6\n2 5 7\n1 6\n");
  const RowStudy study;
  const Outcome lattice = segment(study.samples, {2, 3, 4, 5, 6}, 7, -1, 0);
  std::remove("log.torva");
  const Outcome file = segment(study.samples, {2, 3, 4, 5, 6}, 7, -1, 1);
  EXPECT_EQ(file.region, lattice.region);
  EXPECT_EQ(file.log, lattice.log);
  const std::string header = "Create Neighborhood System\n";
  EXPECT_EQ(file.out, header + "Total 7 voxels, 6 are used for clustering\n" +
                          lattice.out.substr(header.size()));
}

// A dense block takes the lattice route (segment/lattice_lbp.h); the same neighbourhood read
// from a file, each voxel's neighbours in the lattice's order, takes the general graph. Both
// give the same region, similarities, run log and progress text.
TEST(ClusteringLbpNew, DenseBlockTakesTheLatticeRouteWithTheResultOfTheGeneralGraph) {
  testsupport::ScopedTempDir dir;
  constexpr int X = 24, Y = 10, Z = 6, kCases = 40;
  Study study(X, Y, Z, kCases);
  const int rx = 12, ry = 5, rz = 3;
  const int representative = rx + X * (ry + Y * rz) + 1;
  std::vector<int> candidates;
  for (int id = 1; id <= X * Y * Z; ++id) {
    if (id == representative)
      continue;
    candidates.push_back(id);
    const int v = id - 1;
    const int distance =
        std::abs(v % X - rx) + std::abs(v / X % Y - ry) + 2 * std::abs(v / (X * Y) - rz);
    // Voxels near the representative agree with it in more cases, with some variation.
    study.agreeIn(id, std::max(0, kCases - 3 * distance - v * 7 % 5));
  }
  LatticeNeighbours neighbours;
  LatticeLbpGraph graph;
  build_lattice_lbp(graph, representative, candidates, {X, Y, Z}, neighbours);
  ASSERT_TRUE(lattice_route_pays(graph));

  constexpr int kOffsets[10][3] = {{0, 0, -1}, {-1, -1, 0}, {-1, 0, 0}, {-1, 1, 0}, {0, -1, 0},
                                   {0, 1, 0},  {1, -1, 0},  {1, 0, 0},  {1, 1, 0},  {0, 0, 1}};
  std::string file;
  for (int v = 0; v < X * Y * Z; ++v) {
    const int x = v % X, y = v / X % Y, z = v / (X * Y);
    std::vector<int> ids;
    for (const auto &o : kOffsets) {
      const int tx = x + o[0], ty = y + o[1], tz = z + o[2];
      if (tx >= 0 && tx < X && ty >= 0 && ty < Y && tz >= 0 && tz < Z)
        ids.push_back(tx + X * (ty + Y * tz) + 1);
    }
    file += std::to_string(ids.size());
    for (const int id : ids)
      file += " " + std::to_string(id);
    file += "\n";
  }
  testsupport::writeFile("nbhd_system.torva", file);

  const Outcome lattice = segment(study.samples, candidates, representative, -1, 0);
  std::remove("log.torva");
  const Outcome general = segment(study.samples, candidates, representative, -1, 1);
  EXPECT_GT(lattice.region.size(), 10u);
  EXPECT_LT(lattice.region.size(), candidates.size());
  EXPECT_EQ(general.region, lattice.region);
  EXPECT_EQ(general.values, lattice.values);
  EXPECT_EQ(general.log, lattice.log);
  const std::string header = "Create Neighborhood System\n";
  EXPECT_EQ(general.out, header + "Total 1440 voxels, 1440 are used for clustering\n" +
                             lattice.out.substr(header.size()));
}

TEST(ClusteringLbpNew, VoxelIdOutsideTheVolumeEndsWithStatusOneBeforeAnyWork) {
  testsupport::ScopedTempDir dir;
  const RowStudy study;
  std::vector<int> region;
  Vec values;
  EXPECT_EXIT(clustering_lbp_new(region, values, {2, 8}, 7, study.samples, 1.0, 5, 5, -1, 0, 0),
              testing::ExitedWithCode(1),
              "^segmentation: voxel id 8 is outside 1..7 of the 7 x 1 x 1 volume\n$");
  EXPECT_FALSE(testsupport::fileExistsOnDisk("log.torva"));
}

TEST(Similarity, MissingColumnsAreReportedAndNotMadeUp) {
  Study study(3, 1, 1, 4);
  Vec s;
  testing::internal::CaptureStderr();
  compute_smap_kclustering(s, 3, {1, 9, 2}, study.samples);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Samples::getOneNode: out of bound");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0], 1.0);
  EXPECT_TRUE(std::isnan(s[1]));
  EXPECT_EQ(s[2], 1.0);
  EXPECT_EQ(s[3], 1.0);
}
