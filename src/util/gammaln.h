#pragma once
// Logarithm of the Gamma function by the six-term Lanczos series. Every score of the network
// core goes through it, so results are reproducible bit for bit across runs and callers.

// lnG(x) for x > 0:
//   t = x + 5.5;  t -= (x + 0.5) * ln t
//   ser = 1.000000000190015 + sum_{i=1..6} c_i / (x + i)
//   lnG(x) = -t + ln(sqrt(2 pi) * ser / x)
double gammalnSeries(double x);

constexpr int kGammalnTableSize = 4096;

// gammalnSeries(n) for n = 0 .. kGammalnTableSize-1 (entry 0 unused), filled at start-up.
extern const double *const kGammalnOfWholeNumbers;

// The same value as gammalnSeries; whole numbers 1 .. kGammalnTableSize-1 (the arguments of
// every K2 score with the default prior) come from the table. Inline: the candidate scan asks
// for it a dozen times per voxel.
inline double gammaln(double x) {
  if (x >= 1.0 && x < static_cast<double>(kGammalnTableSize)) {
    const int n = static_cast<int>(x);
    if (static_cast<double>(n) == x)
      return kGammalnOfWholeNumbers[n];
  }
  return gammalnSeries(x);
}
