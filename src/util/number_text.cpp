#include "util/number_text.h"

#include <cerrno>
#include <cstdlib>

bool wholeNumberOf(const std::string &token, long &value) {
  errno = 0;
  char *end = nullptr;
  value = std::strtol(token.c_str(), &end, 10);
  return *end == '\0' && errno == 0;
}

bool numberOf(const std::string &token, double &value) {
  char *end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return *end == '\0' && end != token.c_str();
}
