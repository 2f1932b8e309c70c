#pragma once
// Stop signals: SIGTERM (a scheduler's time limit or pre-emption), SIGINT (Ctrl-C) and SIGHUP
// (the terminal went away). The handler only records the signal. The work looks for it at every
// iteration, segmentation step, permutation block, subject and shard it handles, and the process
// then ends as after a failure: what the command staged is removed, every earlier file is left as
// it was, and the status is 128 + the signal's number, as shells report a process a signal ended.
//
// A signal that comes once the results are being renamed into place is not acted on: the renames
// finish and the command ends as it would have, so a folder holds either the earlier results (and
// the status says the signal) or the new ones (status 0), never a mix.
#include <string>

namespace torva {

// Handles SIGTERM, SIGINT and SIGHUP by recording them; `command` names the process in the
// message of a stop.
void catchStopSignals(const char *command);

// The stop signal received and still to be acted on, or 0. Cheap enough for any loop.
int stopSignal();
inline bool stopRequested() { return stopSignal() != 0; }

// The status a stop by `signal` ends the process with.
constexpr int stopExitStatus(int signal) { return 128 + signal; }

// The line on standard error when a stop by `signal` ends the process.
std::string stopMessage(int signal);

// Ends the process when a stop signal is to be acted on (through exitWithMessage, so on a worker
// thread of a deferred iteration it throws DeferredExit); returns otherwise.
void endIfStopRequested();

// From here on a stop signal is no longer acted on: the results are being put in place, which
// must then finish.
void finishDespiteStopSignals();

} // namespace torva
