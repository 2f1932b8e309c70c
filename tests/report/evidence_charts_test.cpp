#include "report/evidence_charts.h"

#include <gtest/gtest.h>

#include <random>

#include "evidence/auc.h"
#include "support/temp_dir.h"

namespace {

// Mann-Whitney by enumerating every (outcome 1, outcome 0) pair, ties one half.
double pairwiseAuc(const std::vector<double> &scores, const std::vector<int> &outcomes) {
  double wins = 0;
  long pairs = 0;
  for (std::size_t a = 0; a < scores.size(); ++a)
    for (std::size_t b = 0; b < scores.size(); ++b)
      if (outcomes[a] == 1 && outcomes[b] == 0) {
        wins += scores[a] > scores[b] ? 1.0 : scores[a] == scores[b] ? 0.5 : 0.0;
        ++pairs;
      }
  return wins / static_cast<double>(pairs);
}

// Trapezoid area under a drawn curve, to check the curve against the AUC the files carry.
double areaUnder(const std::vector<RocPoint> &curve) {
  double area = 0;
  for (std::size_t p = 1; p < curve.size(); ++p)
    area += (curve[p].falsePositive - curve[p - 1].falsePositive) *
            (curve[p].truePositive + curve[p - 1].truePositive) / 2.0;
  return area;
}

// Scores 0.9 (1), 0.6 (1), 0.6 (0), 0.2 (0): the tie at 0.6 moves both rates in one diagonal
// step. Points (0,0), (0,1/2), (1/2,1), (1,1); area 1/2 * 1/2 * (1/2 + 1) + 1/2 = 0.875, and
// the pairs give (1 + 1 + 0.5 + 1) / 4 = 0.875.
TEST(RocCurve, TiesStepDiagonallyAndTheAreaIsTheMannWhitneyAuc) {
  const std::vector<double> scores = {0.6, 0.9, 0.2, 0.6};
  const std::vector<int> outcomes = {0, 1, 0, 1};
  const std::vector<RocPoint> curve = rocCurve(scores, outcomes);
  ASSERT_EQ(curve.size(), 4u);
  EXPECT_DOUBLE_EQ(curve[1].falsePositive, 0.0);
  EXPECT_DOUBLE_EQ(curve[1].truePositive, 0.5);
  EXPECT_DOUBLE_EQ(curve[2].falsePositive, 0.5);
  EXPECT_DOUBLE_EQ(curve[2].truePositive, 1.0);
  EXPECT_DOUBLE_EQ(curve[3].falsePositive, 1.0);
  EXPECT_DOUBLE_EQ(areaUnder(curve), 0.875);
}

// Integer lesion volumes with many ties, as the lesion-volume curve meets them: the area is the
// pair count, and the AUC the analysis writes beside the curve (evidence/auc.h).
TEST(RocCurve, AreaMatchesPairwiseCountOnRandomTiedScores) {
  std::mt19937 random(7);
  for (int study = 0; study < 50; ++study) {
    std::vector<double> scores(40);
    std::vector<int> outcomes(40);
    for (std::size_t s = 0; s < scores.size(); ++s) {
      scores[s] = static_cast<double>(random() % 6);
      outcomes[s] = static_cast<int>(random() % 2);
    }
    outcomes[0] = 0;
    outcomes[1] = 1;
    const double area = areaUnder(rocCurve(scores, outcomes));
    EXPECT_NEAR(area, pairwiseAuc(scores, outcomes), 1e-12);
    EXPECT_NEAR(area, mannWhitneyAuc(scores, outcomes).value(), 1e-12);
  }
}

TEST(RocCurve, NoCurveWhenOneOutcomeIsMissing) {
  EXPECT_TRUE(rocCurve({0.2, 0.8}, {1, 1}).empty());
  EXPECT_TRUE(rocCurve({}, {}).empty());
}

// p = 0.2 opens the second bin; 1.0 closes the last; 0.0 the first.
TEST(Calibration, FiveBinsOfWidthOneFifthWithTheLastClosed) {
  const std::vector<CalibrationBin> bins =
      calibrationBins({0.0, 0.1, 0.2, 0.39, 0.9, 1.0, 0.95}, {0, 1, 0, 0, 1, 1, 0});
  ASSERT_EQ(bins.size(), 5u);
  EXPECT_EQ(bins[0].subjects, 2);
  EXPECT_DOUBLE_EQ(bins[0].meanPredicted, 0.05);
  EXPECT_DOUBLE_EQ(bins[0].observed, 0.5);
  EXPECT_EQ(bins[1].subjects, 2);
  EXPECT_DOUBLE_EQ(bins[1].observed, 0.0);
  EXPECT_EQ(bins[2].subjects, 0);
  EXPECT_EQ(bins[3].subjects, 0);
  EXPECT_EQ(bins[4].subjects, 3);
  EXPECT_NEAR(bins[4].meanPredicted, 0.95, 1e-12);
  EXPECT_NEAR(bins[4].observed, 2.0 / 3.0, 1e-12);
  EXPECT_DOUBLE_EQ(bins[4].low, 0.8);
  EXPECT_DOUBLE_EQ(bins[4].high, 1.0);
}

// A point per non-empty bin, on the unit square of 260 pixels from (40, 42).
TEST(Calibration, PlotDrawsOnePointPerNonEmptyBin) {
  const auto bins = calibrationBins({0.1, 0.5, 0.5}, {0, 1, 0});
  const std::string svg = calibrationSvg(bins);
  std::size_t circles = 0;
  for (auto at = svg.find("<circle"); at != std::string::npos; at = svg.find("<circle", at + 1))
    ++circles;
  EXPECT_EQ(circles, 2u);
  // Bin 3: mean 0.5, observed 0.5: x = 40 + 130, y = 42 + 130.
  EXPECT_NE(svg.find("cx=\"170.0\" cy=\"172.0\""), std::string::npos) << svg;
}

// Bins 1 and 2 hold subjects, bin 3 none, bins 4 and 5 some: two segments, 1-2 and 4-5, and
// nothing across the empty bin. Predictions 0.1 (2 subjects, 1 with outcome 1), 0.3 (1, 0),
// 0.7 (1, 1), 0.9 (4, all 1): points at x = 40 + 260 p, y = 42 + 260 (1 - rate).
TEST(Calibration, LinesJoinNeighbouringNonEmptyBinsOnly) {
  const auto bins =
      calibrationBins({0.1, 0.1, 0.3, 0.7, 0.9, 0.9, 0.9, 0.9}, {1, 0, 0, 1, 1, 1, 1, 1});
  ASSERT_EQ(bins[2].subjects, 0);
  const std::string svg = calibrationSvg(bins);
  const auto d = svg.find("<path fill=\"none\" stroke=\"#3b528b\"");
  ASSERT_NE(d, std::string::npos) << svg;
  const std::string path = svg.substr(d, svg.find("/>", d) - d);
  EXPECT_NE(path.find("d=\"M66.0,172.0 L118.0,302.0 M222.0,42.0 L274.0,42.0\""), std::string::npos)
      << path;
  EXPECT_EQ(testsupport::countOf(path, "M"), 2) << path;

  // A lone non-empty bin has its point and no line.
  const std::string lone = calibrationSvg(calibrationBins({0.1, 0.5, 0.9}, {0, 1, 1}));
  EXPECT_EQ(lone.find("<path fill=\"none\" stroke=\"#3b528b\""), std::string::npos) << lone;
  EXPECT_EQ(testsupport::countOf(lone, "<circle"), 3);
}

// The point's radius grows with its bin's subjects: 3 + 7 sqrt(n / largest).
TEST(Calibration, PointsGrowWithTheirSubjects) {
  EXPECT_DOUBLE_EQ(calibrationRadius(0, 40), 0.0);
  EXPECT_DOUBLE_EQ(calibrationRadius(10, 40), 6.5);
  EXPECT_DOUBLE_EQ(calibrationRadius(40, 40), 10.0);
  for (long n = 1; n < 100; ++n)
    EXPECT_LT(calibrationRadius(n, 100), calibrationRadius(n + 1, 100)) << n;
  // A bin of 4 beside one of 1: radii 10 and 6.5 (3 + 7 / 2).
  const std::string svg =
      calibrationSvg(calibrationBins({0.1, 0.9, 0.9, 0.9, 0.9}, {0, 1, 1, 1, 1}));
  EXPECT_NE(svg.find("r=\"6.5\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("r=\"10.0\""), std::string::npos) << svg;
}

} // namespace
