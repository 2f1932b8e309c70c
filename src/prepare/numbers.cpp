#include "prepare/numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

bool parseFinite(const std::string &text, double &value) {
  if (text.empty())
    return false;
  errno = 0;
  char *end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(value);
}

std::string numberText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}
