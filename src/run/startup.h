#pragma once
// Start-up shared by the commands: the answers to --help and --version and the usage refusal,
// the check that an input file can be read, the thread count, the working folder's lock, the
// run's result folder and the ending on an allocation failure. These may end the process.
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

// Returns only when `path` is a regular file that can be opened for reading; otherwise reports
// it (on standard output, with the reason on standard error) and ends the process with status 1.
void fileExists(const char *path);

namespace torva {

// Answers -h/--help with `helpText` and --version with versionLine(name) on standard output,
// then ends the process with status 0. Returns when neither was asked for.
void answerHelpOrVersion(bool help, bool version, const char *name, const std::string &helpText);

// Ends the process with status 2 after "NAME: problem" and `usage` on standard error.
[[noreturn]] void exitWithUsageProblem(const char *name, const std::string &problem,
                                       const std::string &usage);

} // namespace torva
