#include "util/extra.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/fatal.h"

int unif(int n) {
  const double r = static_cast<double>(std::rand());
  const double b = std::floor(n * (r / 2147483646.0));
  int result = static_cast<int>(b);
  if (result >= n)
    result = n - 1;
  if (result < 0)
    result = 0;
  return result;
}

void fileExists(const char *path) {
  std::FILE *f = std::fopen(path, "r");
  if (f == nullptr)
    torva::exitWithMessage(torva::kExitInputError, stdout,
                           std::string("error: File ") + path + " does not exist\n");
  std::fclose(f);
}

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
