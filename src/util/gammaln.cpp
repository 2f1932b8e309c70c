#include "util/gammaln.h"

#include <cmath>

double gammalnSeries(double x) {
  static const double cof[6] = {76.18009172947146,  -86.50532032941678,   24.01409824083091,
                                -1.231739572450155, 0.001208650973866179, -0.000005395239384953};
  double t = x + 5.5;
  t -= (x + 0.5) * std::log(t);
  // Each denominator is x + i itself, not a running increment, so the rounding matches the
  // closed form term by term.
  double ser = 1.000000000190015;
  for (int i = 0; i < 6; ++i)
    ser += cof[i] / (x + (i + 1));
  return -t + std::log(2.5066282746310005 * ser / x);
}

namespace {

// Filled during static initialisation of this file; nothing scores before main starts.
struct GammalnTable {
  double value[kGammalnTableSize];
  GammalnTable() {
    value[0] = 0.0; // never read: lnG(0) is undefined and 0 is not looked up
    for (int n = 1; n < kGammalnTableSize; ++n)
      value[n] = gammalnSeries(static_cast<double>(n));
  }
};

const GammalnTable filledTable;

} // namespace

const double *const kGammalnOfWholeNumbers = filledTable.value;
