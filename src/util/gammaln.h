#pragma once
// Logarithm of the Gamma function by the six-term Lanczos series. Every score of the network
// core goes through it, so results are reproducible bit for bit across runs and callers.

// lnG(x) for x > 0:
//   t = x + 5.5;  t -= (x + 0.5) * ln t
//   ser = 1.000000000190015 + sum_{i=1..6} c_i / (x + i)
//   lnG(x) = -t + ln(sqrt(2 pi) * ser / x)
double gammalnSeries(double x);

// The same value as gammalnSeries; whole numbers 1 .. kGammalnTableSize-1 (the arguments of
// every K2 score with the default prior) come from a table filled by the series itself.
double gammaln(double x);

constexpr int kGammalnTableSize = 4096;
