#include "util/number_text.h"

#include <cstdlib>

bool numberOf(const std::string &token, double &value) {
  char *end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return *end == '\0' && end != token.c_str();
}
