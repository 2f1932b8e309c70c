#include "roi/pattern_measures.h"

#include <cstdlib>

namespace {

long summedDifference(const char *a, const char *b, int n) {
  long sum = 0;
  for (int i = 0; i < n; ++i)
    sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
  return sum;
}

} // namespace

int vector_norm(const char *pattern, int n) {
  int sum = 0;
  for (int i = 0; i < n; ++i)
    sum += std::abs(static_cast<int>(pattern[i]) - '0');
  return sum;
}

long double hamming_dis(const char *a, const char *b, int n) {
  return static_cast<long double>(summedDifference(a, b, n)) / n;
}

int hamming_threshold(const char *a, const char *b, int n, int th) {
  return summedDifference(a, b, n) > th ? 1 : 0;
}
