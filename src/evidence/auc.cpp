#include "evidence/auc.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The structural components of the scores `own` against `others`, the scores of the other
// outcome: for outcome-1 scores V10 (the share of others below, ties one half), for outcome-0
// scores V01 (the share of others above, ties one half). The others are sorted once, so the
// whole is O((m + n) log(m + n)); each count is a multiple of 1/2, exact in double, and divided
// once, as the mean of psi is.
std::vector<double> componentsOf(const std::vector<double> &own, std::vector<double> others,
                                 bool ownOutcomeIsOne) {
  std::sort(others.begin(), others.end());
  const double count = static_cast<double>(others.size());
  std::vector<double> components;
  components.reserve(own.size());
  for (const double score : own) {
    const auto low = std::lower_bound(others.begin(), others.end(), score);
    const auto high = std::upper_bound(low, others.end(), score);
    const double beaten =
        static_cast<double>(ownOutcomeIsOne ? low - others.begin() : others.end() - high);
    const double tied = static_cast<double>(high - low);
    components.push_back((beaten + 0.5 * tied) / count);
  }
  return components;
}

struct Covariance {
  double aa = 0;
  double bb = 0;
  double ab = 0;
};

// Sample covariance matrix of the paired components, divisor (count - 1), sums in order.
Covariance covarianceOf(const std::vector<double> &a, const std::vector<double> &b) {
  const double count = static_cast<double>(a.size());
  double sumA = 0;
  double sumB = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    sumA += a[k];
    sumB += b[k];
  }
  const double meanA = sumA / count;
  const double meanB = sumB / count;
  Covariance c;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const double da = a[k] - meanA;
    const double db = b[k] - meanB;
    c.aa += da * da;
    c.bb += db * db;
    c.ab += da * db;
  }
  c.aa /= count - 1;
  c.bb /= count - 1;
  c.ab /= count - 1;
  return c;
}

} // namespace

// Sorted by score, each group of equal scores adds, per outcome-1 member, one for every
// outcome-0 subject below the group and one half for every outcome-0 member of the group. The
// count is kept doubled, so it is a whole number until the one division.
std::optional<double> mannWhitneyAuc(const std::vector<double> &scores,
                                     const std::vector<int> &outcomes) {
  const std::size_t n = std::min(scores.size(), outcomes.size());
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&scores](std::size_t a, std::size_t b) { return scores[a] < scores[b]; });
  long long below0 = 0;
  long long doubledWins = 0;
  long long ones = 0;
  for (std::size_t start = 0; start < n;) {
    std::size_t end = start;
    long long group1 = 0;
    long long group0 = 0;
    for (; end < n && scores[order[end]] == scores[order[start]]; ++end)
      (outcomes[order[end]] == 1 ? group1 : group0) += 1;
    doubledWins += group1 * (2 * below0 + group0);
    below0 += group0;
    ones += group1;
    start = end;
  }
  if (ones == 0 || below0 == 0)
    return std::nullopt;
  return static_cast<double>(doubledWins) /
         (2.0 * static_cast<double>(ones) * static_cast<double>(below0));
}

std::optional<AucVariances> delongVariances(const std::vector<double> &a,
                                            const std::vector<double> &b,
                                            const std::vector<int> &outcomes) {
  std::vector<double> positivesA, positivesB, negativesA, negativesB;
  const std::size_t n = std::min({a.size(), b.size(), outcomes.size()});
  for (std::size_t s = 0; s < n; ++s) {
    const bool one = outcomes[s] == 1;
    (one ? positivesA : negativesA).push_back(a[s]);
    (one ? positivesB : negativesB).push_back(b[s]);
  }
  if (positivesA.size() < 2 || negativesA.size() < 2)
    return std::nullopt;
  const Covariance s10 = covarianceOf(componentsOf(positivesA, negativesA, true),
                                      componentsOf(positivesB, negativesB, true));
  const Covariance s01 = covarianceOf(componentsOf(negativesA, positivesA, false),
                                      componentsOf(negativesB, positivesB, false));
  const double m = static_cast<double>(positivesA.size());
  const double k = static_cast<double>(negativesA.size());
  AucVariances variances;
  variances.first = s10.aa / m + s01.aa / k;
  variances.difference = (s10.aa + s10.bb - 2 * s10.ab) / m + (s01.aa + s01.bb - 2 * s01.ab) / k;
  return variances;
}

AucComparison compareAucs(double auc, double baselineAuc, const AucVariances &variances) {
  AucComparison c;
  // Rounding can leave a variance of identical components a hair below 0.
  const double sd = std::sqrt(std::max(0.0, variances.first));
  c.ciLow = std::max(0.0, auc - kNormal975 * sd);
  c.ciHigh = std::min(1.0, auc + kNormal975 * sd);
  c.difference = auc - baselineAuc;
  const double sdDifference = std::sqrt(std::max(0.0, variances.difference));
  c.differenceCiLow = c.difference - kNormal975 * sdDifference;
  c.differenceCiHigh = c.difference + kNormal975 * sdDifference;
  if (sdDifference > 0)
    c.differenceP = std::erfc(std::fabs(c.difference) / (sdDifference * std::sqrt(2.0)));
  return c;
}
