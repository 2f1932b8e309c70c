#include "segment/segmentation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

using Vec = std::vector<double>;

namespace {

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

int countOf(const std::string &text, const std::string &piece) {
  int count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos;
       at = text.find(piece, at + piece.size()))
    ++count;
  return count;
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
