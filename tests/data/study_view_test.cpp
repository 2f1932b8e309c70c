// An iteration's view over a study decoded once must stand for exactly the matrix that the
// plain route reads: case c is subject chosen[c], repeats included.
#include "data/study_view.h"

#include <gtest/gtest.h>

#include <random>

#include "data/samples.h"
#include "roi/study_builder.h"

namespace {

// Random two-state subjects: `voxels` voxel nodes and the function variable.
void randomSubjects(Samples &subjects, std::mt19937 &random, long count, int x, int y, int z) {
  const long voxels = static_cast<long>(x) * y * z;
  subjects.setSize(voxels + 1, count);
  subjects.setXYZSiz(x, y, z);
  for (long c = 0; c < count; ++c)
    for (long i = 0; i <= voxels; ++i) {
      // Some voxels are 0 in every subject, so that screening has something to drop.
      const bool empty = i % 7 == 3;
      subjects.setCell(c, i, empty ? '0' : static_cast<char>('0' + random() % 2));
    }
}

long countCases(const Samples &m, long a, long b, char how) {
  long nodes = 0;
  long cases = 0;
  m.getSize(nodes, cases);
  long n = 0;
  for (long c = 0; c < cases; ++c) {
    const bool x = m.cell(c, a) == '1';
    const bool y = m.cell(c, b) == '1';
    n += how == '1' ? x : how == '&' ? (x && y) : (x != y);
  }
  return n;
}

struct Selection {
  const char *name;
  long subjects;
};

class ViewMatchesMatrix : public ::testing::TestWithParam<Selection> {};

// Subject counts on both sides of the 64-bit word boundaries; draws with repeats (bootstrap,
// up to several bit-planes), leave-one-out (jackknife) and a permutation.
TEST_P(ViewMatchesMatrix, CountsColumnsSubsetsAndScreening) {
  std::mt19937 random(11);
  const long count = GetParam().subjects;
  Samples subjects;
  randomSubjects(subjects, random, count, 5, 4, 3);
  PackedStudy packed;
  ASSERT_TRUE(packed.build(subjects));
  std::vector<std::vector<int>> selections;
  std::vector<int> drawn(static_cast<std::size_t>(count));
  for (int &d : drawn)
    d = static_cast<int>(random() % count);
  selections.push_back(drawn);
  std::vector<int> heavy(static_cast<std::size_t>(count), 1); // subject 1 drawn every time but 1
  heavy[0] = 0;
  selections.push_back(heavy);
  std::vector<int> leaveOut;
  for (int s = 0; s < count; ++s)
    if (s != count / 2)
      leaveOut.push_back(s);
  selections.push_back(leaveOut);
  std::vector<int> reversed;
  for (int s = static_cast<int>(count) - 1; s >= 0; --s)
    reversed.push_back(s);
  selections.push_back(reversed);

  for (const std::vector<int> &chosen : selections) {
    Samples matrix;
    roitest::materialize(matrix, subjects, chosen);
    const StudyView view(packed, chosen, 5, 4, 3);
    ASSERT_EQ(view.cases(), static_cast<long>(chosen.size()));
    const long nodes = 61;
    std::vector<char> expected(chosen.size());
    std::vector<char> got(chosen.size());
    for (long a = 0; a < nodes; ++a) {
      matrix.getOneNode(expected.data(), a);
      view.getOneNode(got.data(), a);
      ASSERT_EQ(got, expected) << "node " << a;
      const long b = (a * 13 + 5) % nodes;
      EXPECT_EQ(view.countOnes(packed.node(a)), countCases(matrix, a, a, '1'));
      EXPECT_EQ(view.countCommon(packed.node(a), packed.node(b)), countCases(matrix, a, b, '&'));
      EXPECT_EQ(view.countDifferent(packed.node(a), packed.node(b)), countCases(matrix, a, b, '^'));
      EXPECT_EQ(view.equalOnCases(packed.node(a), packed.node(b)),
                countCases(matrix, a, b, '^') == 0);
    }
    const std::vector<int> picked = {59, 3, 3, 60, 0};
    Samples fromMatrix;
    Samples fromView;
    subset_node(fromMatrix, matrix, picked);
    view.subset(fromView, picked);
    long n1 = 0, c1 = 0, n2 = 0, c2 = 0;
    fromMatrix.getSize(n1, c1);
    fromView.getSize(n2, c2);
    ASSERT_EQ(n1, n2);
    ASSERT_EQ(c1, c2);
    EXPECT_EQ(std::string(fromMatrix.cellData(), n1 * c1),
              std::string(fromView.cellData(), n2 * c2));
    std::vector<int> ns1, ns2;
    fromMatrix.getNs(ns1);
    fromView.getNs(ns2);
    EXPECT_EQ(ns1, ns2);
    for (const auto &[type, th] :
         std::vector<std::pair<int, double>>{{0, 0.2}, {1, 0.2}, {1, 2.0}, {1, 3.5}}) {
      std::vector<int> plain;
      std::vector<int> viewed;
      matrix.pre_threshold(plain, type, th);
      view.pre_threshold(viewed, type, th);
      EXPECT_EQ(viewed, plain) << "type " << type << " th " << th;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SubjectCounts, ViewMatchesMatrix,
                         ::testing::Values(Selection{"five", 5}, Selection{"sixtyfour", 64},
                                           Selection{"sixtyfive", 65}, Selection{"many", 131}),
                         [](const ::testing::TestParamInfo<Selection> &info) {
                           return std::string(info.param.name);
                         });

TEST(StudyView, BitPlanesHoldEachSubjectsMultiplicity) {
  PackedStudy packed;
  packed.reset(2, 4);
  // Subject 2 drawn five times (planes 0 and 2), subject 0 twice (plane 1), 1 and 3 never.
  const StudyView view(packed, {2, 0, 2, 2, 0, 2, 2}, 1, 1, 1);
  ASSERT_EQ(view.planeCount(), 3);
  EXPECT_EQ(view.plane(0)[0], 0x4u);
  EXPECT_EQ(view.plane(1)[0], 0x1u);
  EXPECT_EQ(view.plane(2)[0], 0x4u);
  EXPECT_EQ(view.selected()[0], 0x5u);
}

} // namespace
