#include "util/index_sets.h"

#include <algorithm>
#include <iterator>

void set_minus(std::vector<int> &result, std::vector<int> &a, const std::vector<int> &b) {
  result.clear();
  std::sort(a.begin(), a.end());
  std::vector<int> removed(b);
  std::sort(removed.begin(), removed.end());
  // On sorted ranges set_difference keeps max(m - k, 0) copies of a value held m times in a and
  // k times in b: exactly one removal per occurrence in b.
  std::set_difference(a.begin(), a.end(), removed.begin(), removed.end(),
                      std::back_inserter(result));
}

void set_minus2(std::vector<int> &result, const std::vector<int> &a, const std::vector<int> &b) {
  result.assign(a.begin(), a.end());
  std::sort(result.begin(), result.end());
  result.erase(std::unique(result.begin(), result.end()), result.end());
  std::vector<int> removed(b);
  std::sort(removed.begin(), removed.end());
  result.erase(std::remove_if(result.begin(), result.end(),
                              [&removed](int id) {
                                return std::binary_search(removed.begin(), removed.end(), id);
                              }),
               result.end());
}

void set_copy(std::vector<int> &dst, const std::vector<int> &src) { dst = src; }
