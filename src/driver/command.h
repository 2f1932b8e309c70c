#pragma once
// Start-up of the command: argument check, usage text, method heading, list head, and the lock
// that keeps a second run out of the working folder.
#include <string>

// Prints the usage text to standard output.
void printUsage();

// The usage and a line per argument and environment variable, for --help.
std::string helpText();

// Reads the subject count K and node count n from the head of the file list (the words before
// them are skipped unchecked). False when the head cannot be read.
bool readListHead(const char *listPath, long &subjects, long &nodes);

// The method argument: 1 or 2 when the text is exactly "1" or "2", else 0 (unknown: "1abc" and
// "1.9" must not run a jackknife).
int methodOfArgument(const std::string &text);

// The resampling size: a whole decimal number 0 .. 2147483647, digits only. Returns "" and sets
// `size`, or a message naming the argument.
std::string parseResamplingSize(const std::string &text, int &size);

// Refusal of a run the resampling cannot make, naming the list: no subject or no iteration, or
// a jackknife of one subject (its only iteration would have no case). "" otherwise.
std::string resamplingPlanProblem(int method, long subjects, int iterations,
                                  const std::string &listPath);

// Takes the exclusive lock of the working folder (flock on ".torva.lock", which then holds
// this process id) for the rest of the process: two runs in one folder would share the label
// and result files. Returns "" or a message naming the folder and the other run's pid.
std::string lockWorkingFolder();

// Message for an allocation failure that escaped every size check.
std::string outOfMemoryMessage(const char *what);

// Runs a command's body; an allocation failure that escapes the size checks ends the process
// with outOfMemoryMessage and status 1 instead of an abort.
int runReportingOutOfMemory(int (*body)(int, char **), int argc, char **argv);

// Wall-clock laps of the phases of a run, for TORVA_PHASE_TIMES.
struct PhaseClock {
  PhaseClock();
  // Seconds since the previous lap (or since construction).
  double lap();
  double loading = 0;
  double ensemble = 0;

private:
  double last;
};

struct PhaseTimes;

// When the environment variable TORVA_PHASE_TIMES names a file, writes the seconds of the
// phases into it, one "name seconds" line each: loading, screening_scan and segmentation
// (thread time summed over the iterations), ensemble. Best effort, for the benchmarks.
void writePhaseTimes(const PhaseClock &clock, const PhaseTimes &loop);

class ResultTransaction;

// Start-up shared by the commands that run an analysis in the working folder: the thread count
// (TORVA_THREADS), the folder's lock and the run's result folder. Ends the process with the
// message of the first that fails (status 2 for the thread count, 1 otherwise).
void startAnalysisRun(int &threads, ResultTransaction &results);
