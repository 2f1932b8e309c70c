#pragma once
// Start-up shared by the commands: the thread count, the working folder's lock, the run's result
// folder and the ending on an allocation failure. These may end the process.
#include <string>

// Takes the exclusive lock of the working folder (flock on ".torva.lock", which then holds
// this process id) for the rest of the process: two runs in one folder would share the label
// and result files. Returns "" or a message naming the folder and the other run's pid.
std::string lockWorkingFolder();

// Message for an allocation failure that escaped every size check.
std::string outOfMemoryMessage(const char *what);

// Runs a command's body; an allocation failure that escapes the size checks ends the process
// with outOfMemoryMessage and status 1 instead of an abort.
int runReportingOutOfMemory(int (*body)(int, char **), int argc, char **argv);

// Threads for a run: TORVA_THREADS when set (a whole number from 1), else the machine's cores.
// Returns false with `error` set when the variable holds anything else.
bool threadCountFromEnvironment(int &threads, std::string &error);

class ResultTransaction;

// Start-up shared by the commands that run an analysis in the working folder: the thread count
// (TORVA_THREADS), the folder's lock and the run's result folder. Ends the process with the
// message of the first that fails (status 2 for the thread count, 1 otherwise).
void startAnalysisRun(int &threads, ResultTransaction &results);
