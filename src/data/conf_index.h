#pragma once
// Configuration index of one case's states.
#include <vector>

// index = sum_{t=0}^{L-2} (values[t] - '0') * strides[t], L = strides.size(); values hold the
// character codes '0' + state (read as signed bytes), the first value varies fastest.
void conf2ind_wq(const char *values, long &index, const std::vector<long> &strides);
