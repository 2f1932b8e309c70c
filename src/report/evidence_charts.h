#pragma once
// The held-out prediction on the page: ROC curves and a calibration plot as inline SVG, and the
// arithmetic behind them.
#include <string>
#include <vector>

struct RocPoint {
  double falsePositive = 0; // share of the outcome-0 subjects scored at or above the cut
  double truePositive = 0;  // share of the outcome-1 subjects scored at or above the cut
};

// The empirical ROC curve of `scores` against `outcomes` (0/1), from (0, 0) to (1, 1), one point
// per distinct score from the highest down; tied scores move both rates in one step, so the area
// under it is the Mann-Whitney AUC with ties counted one half. Empty when one outcome is absent.
std::vector<RocPoint> rocCurve(const std::vector<double> &scores, const std::vector<int> &outcomes);

struct CalibrationBin {
  double low = 0;
  double high = 0;
  long subjects = 0;
  double meanPredicted = 0;
  double observed = 0; // share with outcome 1
};

constexpr int kCalibrationBins = 5;

// Five bins of width 0.2 of `predicted`, the last one closed at 1; means summed in subject order.
std::vector<CalibrationBin> calibrationBins(const std::vector<double> &predicted,
                                            const std::vector<int> &outcomes);

struct RocSeries {
  std::string label; // legend text, with the AUC
  std::string colour;
  std::vector<RocPoint> curve;
  bool dashed = false;
};

// Both ROC curves on one pair of unit axes.
std::string rocSvg(const std::vector<RocSeries> &series);

// Radius in pixels of the point of a bin of `subjects` when the fullest bin holds `largest`:
// 3 + 7 sqrt(subjects / largest), so 10 for the fullest bin; 0 for an empty one.
double calibrationRadius(long subjects, long largest);

// A point per non-empty bin at (mean predicted, observed rate), sized by its subjects, a line
// between neighbouring non-empty bins only, and the diagonal of perfect calibration.
std::string calibrationSvg(const std::vector<CalibrationBin> &bins);
