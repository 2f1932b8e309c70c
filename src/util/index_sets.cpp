#include "util/index_sets.h"

#include <algorithm>
#include <iterator>

namespace {

// The region search keeps its sets in ascending order, so the check usually spares the sort.
void sortIfNeeded(std::vector<int> &v) {
  if (!std::is_sorted(v.begin(), v.end()))
    std::sort(v.begin(), v.end());
}

} // namespace

void set_minus(std::vector<int> &result, std::vector<int> &a, const std::vector<int> &b) {
  result.clear();
  sortIfNeeded(a);
  std::vector<int> removed(b);
  sortIfNeeded(removed);
  // On sorted ranges set_difference keeps max(m - k, 0) copies of a value held m times in a and
  // k times in b: exactly one removal per occurrence in b.
  std::set_difference(a.begin(), a.end(), removed.begin(), removed.end(),
                      std::back_inserter(result));
}

void set_minus2(std::vector<int> &result, const std::vector<int> &a, const std::vector<int> &b) {
  result.assign(a.begin(), a.end());
  sortIfNeeded(result);
  result.erase(std::unique(result.begin(), result.end()), result.end());
  std::vector<int> removed(b);
  sortIfNeeded(removed);
  result.erase(std::remove_if(result.begin(), result.end(),
                              [&removed](int id) {
                                return std::binary_search(removed.begin(), removed.end(), id);
                              }),
               result.end());
}

void set_copy(std::vector<int> &dst, const std::vector<int> &src) { dst = src; }
