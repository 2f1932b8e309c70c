#pragma once
// Process endings shared by the command and its readers. Every fatal input error leaves with
// kExitInputError so that shells and schedulers see the failure.
#include <cstdio>
#include <string>

namespace torva {

constexpr int kExitSuccess = 0;
constexpr int kExitInputError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitEmptyCandidateSet = -2;

// Writes `message` unchanged to `stream`, flushes both standard streams and ends the process.
// On a thread that runs a deferred iteration (see DeferredExit) it throws DeferredExit instead.
[[noreturn]] void exitWithMessage(int status, std::FILE *stream, const std::string &message);

// Flushes both standard streams and ends the process; deferred like exitWithMessage.
[[noreturn]] void exitWithStatus(int status);

// The end of the process that an iteration on a worker thread asked for. The driver catches it
// and ends the process when it reaches that iteration in order, after the output of every
// earlier iteration and of this one, as a sequential run would have.
struct DeferredExit {
  int status = 0;
  bool toStdout = false;
  std::string message;
};

// Makes the calling thread's process endings throw DeferredExit (true) or end the process
// (false, the default).
void deferThreadExits(bool defer);

// Ends the process as `exit` asks: its message on its stream, then the status.
[[noreturn]] void performExit(const DeferredExit &exit);

} // namespace torva
