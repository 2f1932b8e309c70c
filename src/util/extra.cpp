#include "util/extra.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/fatal.h"
#include "util/file_checks.h"

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
  // Checked before opening: opening a FIFO for reading would wait for a writer forever.
  const std::string kind = torva::nonRegularKind(path);
  if (!kind.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           std::string(path) + " is " + kind + ", not a regular file\n");
  std::FILE *f = std::fopen(path, "r");
  if (f == nullptr) {
    const std::string reason = std::strerror(errno);
    std::fputs((std::string("error: File ") + path + " does not exist\n").c_str(), stdout);
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           std::string("cannot open ") + path + ": " + reason + "\n");
  }
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
