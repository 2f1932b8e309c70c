#include "util/stop_signal.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#include "util/fatal.h"

namespace torva {

namespace {

// Lock-free atomics are the only shared state a signal handler may touch besides a volatile
// sig_atomic_t, and unlike it they are also safe to read from the worker threads.
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");
std::atomic<int> received{0};
std::atomic<bool> finishing{false};
const char *commandName = "torvacoreel";

// The first signal is the one the process ends for; later ones change nothing.
extern "C" void recordStopSignal(int signal) {
  int none = 0;
  received.compare_exchange_strong(none, signal);
}

const char *signalName(int signal) {
  switch (signal) {
  case SIGTERM:
    return "SIGTERM";
  case SIGINT:
    return "SIGINT";
  case SIGHUP:
    return "SIGHUP";
  default:
    return "a signal";
  }
}

} // namespace

void catchStopSignals(const char *command) {
  commandName = command;
  struct sigaction action {};
  action.sa_handler = recordStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read, write or open that waits on a pipe, a terminal or a FIFO returns, so
  // that a command waiting there still stops. Regular files are never cut short by a signal.
  action.sa_flags = 0;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signal, &action, nullptr);
}

int stopSignal() {
  if (finishing.load(std::memory_order_relaxed))
    return 0;
  return received.load(std::memory_order_relaxed);
}

std::string stopMessage(int signal) {
  return std::string(commandName) + ": stopped by " + signalName(signal) +
         "; what it had not yet put in place was removed, earlier files are as they were\n";
}

void endIfStopRequested() {
  if (const int signal = stopSignal())
    exitWithMessage(stopExitStatus(signal), stderr, stopMessage(signal));
}

void finishDespiteStopSignals() { finishing.store(true); }

} // namespace torva
