#include "util/fatal.h"

#include <cstdlib>
#include <iostream>

namespace torva {

void exitWithStatus(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::exit(status);
}

void exitWithMessage(int status, std::FILE *stream, const std::string &message) {
  std::cout.flush();
  std::fputs(message.c_str(), stream);
  exitWithStatus(status);
}

} // namespace torva
