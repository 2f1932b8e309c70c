// The AUC: worked ties and the plain pair count; the DeLong comparison: a case worked by hand,
// the structural components against their O(m n) definition on random scores with ties, the
// interval's clipping and the cases without a value.
#include "evidence/auc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "evidence/heldout_prediction.h"

namespace {

TEST(MannWhitneyAuc, TiesCountOneHalf) {
  // Positives 0.8, 0.5; negatives 0.5, 0.2: pairs win, win, tie, win = 3.5 / 4.
  EXPECT_EQ(mannWhitneyAuc({0.8, 0.5, 0.5, 0.2}, {1, 1, 0, 0}), 0.875);
  EXPECT_EQ(mannWhitneyAuc({0.3, 0.3, 0.3}, {1, 0, 1}), 0.5);
  EXPECT_EQ(mannWhitneyAuc({0.1, 0.9}, {1, 0}), 0.0);
  EXPECT_EQ(mannWhitneyAuc({0.1, 0.9}, {0, 1}), 1.0);
  EXPECT_FALSE(mannWhitneyAuc({0.1, 0.9}, {1, 1}).has_value());
  EXPECT_FALSE(mannWhitneyAuc({}, {}).has_value());
}

// A plain count over every pair against the sorted route, on random scores with many ties.
TEST(MannWhitneyAuc, EqualsThePairCount) {
  unsigned state = 12345;
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<double> scores;
    std::vector<int> outcomes;
    const int n = 2 + trial;
    for (int i = 0; i < n; ++i) {
      state = state * 1103515245u + 12345u;
      scores.push_back(static_cast<double>((state >> 16) % 7));
      outcomes.push_back(i % 3 == 0 ? 1 : 0);
    }
    double wins = 0;
    double pairs = 0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (outcomes[i] == 1 && outcomes[j] == 0) {
          pairs += 1;
          wins += scores[i] > scores[j] ? 1.0 : scores[i] == scores[j] ? 0.5 : 0.0;
        }
    EXPECT_EQ(mannWhitneyAuc(scores, outcomes), wins / pairs) << trial;
  }
}

// Five subjects, outcome 1 1 1 0 0. Score a: 0.9 0.5 0.3 | 0.5 0.1; score b: 3 1 2 | 2 2.
//   V10_a (outcome-1 subjects against the two others): 0.9 beats both -> 1; 0.5 ties 0.5, beats
//   0.1 -> 3/4; 0.3 beats 0.1 -> 1/2. V01_a (outcome-0 subjects, the outcome-1 ones above them):
//   0.5 -> (1 + 1/2 + 0) / 3 = 1/2; 0.1 -> 1. AUC_a = (1 + 3/4 + 1/2) / 3 = 3/4.
//   V10_b: 3 beats both -> 1; 1 -> 0; 2 ties both -> 1/2. V01_b: 2 -> (1 + 0 + 1/2) / 3 = 1/2
//   twice. AUC_b = 1/2.
//   S10 over three (divisor 2): deviations of V10_a (1/4, 0, -1/4), of V10_b (1/2, -1/2, 0):
//   S10_aa = 1/16, S10_bb = 1/4, S10_ab = 1/16. S01 over two (divisor 1): deviations of V01_a
//   (-1/4, 1/4), of V01_b (0, 0): S01_aa = 1/8, S01_bb = 0, S01_ab = 0.
//   var(AUC_a) = 1/16 / 3 + 1/8 / 2 = 1/48 + 1/16 = 1/12.
//   var(AUC_a - AUC_b) = (1/16 + 1/4 - 1/8) / 3 + (1/8 + 0 - 0) / 2 = 1/16 + 1/16 = 1/8.
//   Interval 3/4 -+ 1.959964 / sqrt 12 = 0.184207 .. 1.315793, clipped to 1; difference 1/4 -+
//   1.959964 / sqrt 8 = -0.442951 .. 0.942951; p = erfc(1/4 / (sqrt(1/8) sqrt 2)) = erfc(1/2).
TEST(DelongComparison, WorkedFiveSubjects) {
  const std::vector<int> outcomes{1, 1, 1, 0, 0};
  const std::vector<double> a{0.9, 0.5, 0.3, 0.5, 0.1};
  const std::vector<double> b{3, 1, 2, 2, 2};
  const std::optional<AucVariances> v = delongVariances(a, b, outcomes);
  ASSERT_TRUE(v.has_value());
  EXPECT_NEAR(v->first, 1.0 / 12.0, 1e-15);
  EXPECT_NEAR(v->difference, 1.0 / 8.0, 1e-15);
  EXPECT_EQ(*mannWhitneyAuc(a, outcomes), 0.75);
  EXPECT_EQ(*mannWhitneyAuc(b, outcomes), 0.5);
  const AucComparison c = compareAucs(0.75, 0.5, *v);
  EXPECT_NEAR(c.ciLow, 0.75 - kNormal975 / std::sqrt(12.0), 1e-12);
  EXPECT_NEAR(c.ciLow, 0.184207, 1e-6);
  EXPECT_EQ(c.ciHigh, 1.0);
  EXPECT_EQ(c.difference, 0.25);
  EXPECT_NEAR(c.differenceCiLow, -0.442951, 1e-6);
  EXPECT_NEAR(c.differenceCiHigh, 0.942951, 1e-6);
  ASSERT_TRUE(c.differenceP.has_value());
  EXPECT_NEAR(*c.differenceP, std::erfc(0.5), 1e-12);
  EXPECT_NEAR(*c.differenceP, 0.479500, 1e-6);
}

// psi summed over every pair, as the definition reads.
double psi(double x, double y) { return x > y ? 1.0 : (x == y ? 0.5 : 0.0); }

struct Definition {
  double varA = 0;
  double varDifference = 0;
};

Definition byDefinition(const std::vector<double> &a, const std::vector<double> &b,
                        const std::vector<int> &outcomes) {
  std::vector<std::size_t> ones;
  std::vector<std::size_t> zeros;
  for (std::size_t s = 0; s < outcomes.size(); ++s)
    (outcomes[s] == 1 ? ones : zeros).push_back(s);
  const double m = static_cast<double>(ones.size());
  const double n = static_cast<double>(zeros.size());
  // The mean of psi(own, other) over the other outcome's subjects, for each of `own`; psi's
  // arguments in the order (outcome 1, outcome 0).
  const auto components = [](const std::vector<double> &score, const std::vector<std::size_t> &own,
                             const std::vector<std::size_t> &other, bool ownAreOnes) {
    std::vector<double> v;
    for (const std::size_t k : own) {
      double sum = 0;
      for (const std::size_t l : other)
        sum += ownAreOnes ? psi(score[k], score[l]) : psi(score[l], score[k]);
      v.push_back(sum / other.size());
    }
    return v;
  };
  const std::vector<double> v10a = components(a, ones, zeros, true);
  const std::vector<double> v10b = components(b, ones, zeros, true);
  const std::vector<double> v01a = components(a, zeros, ones, false);
  const std::vector<double> v01b = components(b, zeros, ones, false);
  const auto cov = [](const std::vector<double> &x, const std::vector<double> &y) {
    double mx = 0, my = 0;
    for (std::size_t k = 0; k < x.size(); ++k) {
      mx += x[k] / x.size();
      my += y[k] / y.size();
    }
    double sum = 0;
    for (std::size_t k = 0; k < x.size(); ++k)
      sum += (x[k] - mx) * (y[k] - my);
    return sum / (x.size() - 1.0);
  };
  Definition d;
  d.varA = cov(v10a, v10a) / m + cov(v01a, v01a) / n;
  d.varDifference = (cov(v10a, v10a) + cov(v10b, v10b) - 2 * cov(v10a, v10b)) / m +
                    (cov(v01a, v01a) + cov(v01b, v01b) - 2 * cov(v01a, v01b)) / n;
  return d;
}

// Random scores with many ties (predictions on a grid of twentieths, volumes of a few values),
// group sizes from the smallest allowed to hundreds, correlated and not.
TEST(DelongComparison, ComponentsAgreeWithTheDefinitionOnRandomScores) {
  std::mt19937 random(88);
  for (int trial = 0; trial < 40; ++trial) {
    const int subjects = trial < 10 ? 4 + trial : 50 + 25 * trial;
    std::vector<int> outcomes(subjects);
    std::vector<double> a(subjects);
    std::vector<double> b(subjects);
    for (int s = 0; s < subjects; ++s) {
      outcomes[s] = static_cast<int>(random() % 2);
      a[s] = static_cast<double>((random() % 21) + (trial % 2 ? 5 * outcomes[s] : 0)) / 20.0;
      b[s] = static_cast<double>(random() % 7) + (trial % 3 == 0 ? a[s] : 0.0);
    }
    outcomes[0] = outcomes[1] = 1; // at least two of each outcome
    outcomes[2] = outcomes[3] = 0;
    const std::optional<AucVariances> v = delongVariances(a, b, outcomes);
    ASSERT_TRUE(v.has_value());
    const Definition d = byDefinition(a, b, outcomes);
    EXPECT_NEAR(v->first, d.varA, 1e-13 * std::max(1.0, d.varA)) << "trial " << trial;
    EXPECT_NEAR(v->difference, d.varDifference, 1e-13 * std::max(1.0, d.varDifference))
        << "trial " << trial;
    // The same scores compared with themselves: the difference has no variance.
    EXPECT_NEAR(delongVariances(a, a, outcomes)->difference, 0.0, 1e-15);
  }
}

TEST(DelongComparison, NoValueBelowTwoSubjectsOfAnOutcomeAndNoPWithoutVariance) {
  EXPECT_FALSE(delongVariances({0.1, 0.2, 0.3}, {1, 2, 3}, {1, 0, 0}).has_value());
  EXPECT_FALSE(delongVariances({0.1, 0.2, 0.3}, {1, 2, 3}, {1, 1, 0}).has_value());
  EXPECT_TRUE(delongVariances({0.1, 0.2, 0.3, 0.4}, {1, 2, 3, 4}, {1, 1, 0, 0}).has_value());
  // Perfect separation by both scores: every component is 1, nothing varies.
  const std::optional<AucVariances> v =
      delongVariances({0.9, 0.8, 0.1, 0.2}, {5, 6, 1, 2}, {1, 1, 0, 0});
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->first, 0.0);
  EXPECT_EQ(v->difference, 0.0);
  const AucComparison c = compareAucs(1.0, 1.0, *v);
  EXPECT_EQ(c.ciLow, 1.0);
  EXPECT_EQ(c.ciHigh, 1.0);
  EXPECT_EQ(c.difference, 0.0);
  EXPECT_FALSE(c.differenceP.has_value());
  // A low AUC's interval is clipped at 0; the difference's never is.
  const AucComparison low = compareAucs(0.05, 0.9, AucVariances{0.01, 0.04});
  EXPECT_EQ(low.ciLow, 0.0);
  EXPECT_NEAR(low.ciHigh, 0.05 + kNormal975 * 0.1, 1e-12);
  EXPECT_NEAR(low.differenceCiLow, -0.85 - kNormal975 * 0.2, 1e-12);
  EXPECT_LT(low.differenceCiLow, -1.0);
}

// The summary's rows come from the predicted subjects only, paired with their volumes, and a
// bootstrap's never-predicted subjects take no part.
TEST(DelongComparison, SummaryUsesThePredictedSubjectsPaired) {
  std::vector<SubjectPrediction> means(7);
  const std::vector<double> p{0.9, 0.5, 0.3, 0.5, 0.1, 0.7, 0.2};
  for (int s = 0; s < 7; ++s)
    means[s] = {s < 5 ? 1 : 0, p[s]};
  const PredictionSummary summary =
      summarisePredictions(means, {1, 1, 1, 0, 0, 1, 0}, {3, 1, 2, 2, 2, 0, 9});
  ASSERT_TRUE(summary.comparison.has_value());
  const AucComparison &c = *summary.comparison;
  EXPECT_EQ(c.difference, 0.25);
  EXPECT_NEAR(c.ciLow, 0.184207, 1e-6);
  EXPECT_EQ(c.ciHigh, 1.0);
  EXPECT_NEAR(c.differenceCiLow, -0.442951, 1e-6);
  EXPECT_NEAR(c.differenceCiHigh, 0.942951, 1e-6);
  ASSERT_TRUE(c.differenceP.has_value());
  EXPECT_NEAR(*c.differenceP, 0.479500, 1e-6);
  // One outcome-0 subject predicted: no comparison.
  EXPECT_FALSE(summarisePredictions(means, {1, 1, 1, 0, 1, 1, 0}, {3, 1, 2, 2, 2, 0, 9})
                   .comparison.has_value());
}

} // namespace
