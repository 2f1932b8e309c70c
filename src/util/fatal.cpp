#include "util/fatal.h"

#include <cstdlib>
#include <iostream>

namespace torva {

namespace {
thread_local bool deferExits = false;
} // namespace

void deferThreadExits(bool defer) { deferExits = defer; }

void exitWithStatus(int status) {
  if (deferExits)
    throw DeferredExit{status, false, std::string()};
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::exit(status);
}

void exitWithMessage(int status, std::FILE *stream, const std::string &message) {
  if (deferExits)
    throw DeferredExit{status, stream == stdout, message};
  std::cout.flush();
  std::fputs(message.c_str(), stream);
  exitWithStatus(status);
}

void performExit(const DeferredExit &exit) {
  deferExits = false;
  exitWithMessage(exit.status, exit.toStdout ? stdout : stderr, exit.message);
}

} // namespace torva
