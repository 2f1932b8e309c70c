#pragma once
// Operations on lists of non-negative voxel ids, used to shrink the candidate and gain sets.
#include <vector>

// result = a less one occurrence of each element of b that a holds (multiset difference),
// ascending. Sorts `a` in place on the way; callers do not use `a` afterwards.
void set_minus(std::vector<int> &result, std::vector<int> &a, const std::vector<int> &b);

// result = every distinct value present in a and absent from b, ascending.
void set_minus2(std::vector<int> &result, const std::vector<int> &a, const std::vector<int> &b);

// dst = src.
void set_copy(std::vector<int> &dst, const std::vector<int> &src);
