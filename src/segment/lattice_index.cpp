#include "segment/lattice_index.h"

#include <vector>

void ind2conf(std::vector<int> &conf, long v, const std::vector<int> &dims) {
  conf.clear();
  for (std::size_t i = 0; i < dims.size(); ++i) {
    // The slowest coordinate is not wrapped, so an index past the volume stays visible.
    const bool last = i + 1 == dims.size();
    conf.push_back(static_cast<int>(last ? v : v % dims[i]));
    v /= dims[i];
  }
}

void conf2ind(const std::vector<int> &conf, long &v, const std::vector<int> &dims) {
  v = 0;
  long stride = 1;
  for (std::size_t i = 0; i < conf.size(); ++i) {
    v += conf[i] * stride;
    stride *= dims[i];
  }
}
