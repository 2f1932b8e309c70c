#pragma once
// The command torvacoreel around its run: usage and help text, the list head, and the phase
// times written for the benchmarks.
#include <string>

// Prints the usage text to standard output.
void printUsage();

// The usage and a line per argument and environment variable, for --help.
std::string helpText();

// Reads the subject count K and node count n from the head of the file list (the words before
// them are skipped unchecked). False when the head cannot be read.
bool readListHead(const char *listPath, long &subjects, long &nodes);

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
