#pragma once
// The AUC of a score against a 0/1 outcome, and its uncertainty: the one place the area under
// the ROC curve is computed. The uncertainty of an AUC and of the difference of two AUCs on the
// same subjects is that of the structural components of DeLong, DeLong and Clarke-Pearson
// (1988).
//
// With m subjects of outcome 1 (scores x_i) and n of outcome 0 (scores y_j), and
// psi(x, y) = 1 when x > y, 1/2 when x = y, 0 when x < y:
//   V10[i] = (1/n) sum_j psi(x_i, y_j)      for every outcome-1 subject,
//   V01[j] = (1/m) sum_i psi(x_i, y_j)      for every outcome-0 subject,
// both means being the Mann-Whitney AUC. For two scores a and b of the same subjects,
// S10 is the 2 x 2 covariance matrix of (V10_a, V10_b) over the outcome-1 subjects and S01 that
// of (V01_a, V01_b) over the outcome-0 subjects, each with divisor (count - 1):
//   var(AUC_a) = S10_aa / m + S01_aa / n,
//   var(AUC_a - AUC_b) = (S10_aa + S10_bb - 2 S10_ab) / m + (S01_aa + S01_bb - 2 S01_ab) / n.
#include <optional>
#include <vector>

// Mann-Whitney AUC: the fraction of (outcome 1, outcome 0) pairs in which the outcome-1 member
// has the larger score, ties counting one half. `outcomes` are 0 or 1 (anything but 1 counts as
// 0). Empty when either outcome is missing.
std::optional<double> mannWhitneyAuc(const std::vector<double> &scores,
                                     const std::vector<int> &outcomes);

struct AucVariances {
  double first = 0;      // var(AUC_a)
  double difference = 0; // var(AUC_a - AUC_b)
};

// The variances for scores `a` and `b` of the same subjects with `outcomes` (1, or anything else
// for 0); empty when fewer than 2 subjects hold either outcome. Sums run in subject order.
std::optional<AucVariances> delongVariances(const std::vector<double> &a,
                                            const std::vector<double> &b,
                                            const std::vector<int> &outcomes);

// The two-sided 95 % normal quantile.
constexpr double kNormal975 = 1.959963984540054;

// The comparison the held-out summary reports: the AUC's 95 % interval (clipped to [0, 1]), the
// difference from the baseline AUC with its 95 % interval (not clipped) and its two-sided
// p-value erfc(|difference| / (sd * sqrt 2)), empty when its variance is 0.
struct AucComparison {
  double ciLow = 0;
  double ciHigh = 0;
  double difference = 0;
  double differenceCiLow = 0;
  double differenceCiHigh = 0;
  std::optional<double> differenceP;
};

// From the two AUCs as reported and their DeLong variances.
AucComparison compareAucs(double auc, double baselineAuc, const AucVariances &variances);
