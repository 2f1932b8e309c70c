#include "data/conf_index.h"

void conf2ind_wq(const char *values, long &index, const std::vector<long> &strides) {
  index = 0;
  if (strides.empty())
    return;
  const std::size_t count = strides.size() - 1;
  for (std::size_t t = 0; t < count; ++t)
    index += (static_cast<signed char>(values[t]) - 48) * strides[t];
}
