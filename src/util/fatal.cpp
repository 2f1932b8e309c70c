#include "util/fatal.h"

#include <cstdlib>
#include <iostream>

#include "util/progress_line.h"
#include "util/stop_signal.h"

namespace torva {

namespace {
thread_local bool deferExits = false;
} // namespace

void deferThreadExits(bool defer) { deferExits = defer; }

namespace {
// Once a stop signal came, the process ends for it, whatever else ended the work: a failure then
// is most likely the work giving up for the stop.
bool endingForOtherThanStop(int status) {
  const int signal = stopSignal();
  return signal != 0 && status != stopExitStatus(signal);
}
} // namespace

void exitWithStatus(int status) {
  if (endingForOtherThanStop(status))
    endIfStopRequested();
  if (deferExits)
    throw DeferredExit{status, false, std::string()};
  endProgressLine(); // an exit skips the destructor of the line on the caller's stack
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::exit(status);
}

void exitWithMessage(int status, std::FILE *stream, const std::string &message) {
  if (endingForOtherThanStop(status))
    endIfStopRequested();
  if (deferExits)
    throw DeferredExit{status, stream == stdout, message};
  endProgressLine();
  std::cout.flush();
  std::fputs(message.c_str(), stream);
  exitWithStatus(status);
}

void performExit(const DeferredExit &exit) {
  deferExits = false;
  exitWithMessage(exit.status, exit.toStdout ? stdout : stderr, exit.message);
}

} // namespace torva
