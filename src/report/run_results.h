#pragma once
// Everything the report needs from a finished run's folder, read and checked against each other.
#include <string>
#include <vector>

#include "bn/bn.h"
#include "report/volume.h"
#include "results/result_files.h"

struct RunResults {
  std::string dir;
  ModelSummary summary;
  VariableLog variables;
  RoiField roi;
  BN network;          // representative voxels in region order, the outcome last
  Volume frequency;    // prob_map_torvael.nii: percent per voxel, and the result grid
  long lastCases = -1; // case count of the last iteration's run log; -1 without "log.torva"

  int regions() const { return roi.regions; }
};

// Path of the result file `name` inside `dir`.
std::string resultPath(const std::string &dir, const std::string &name);

// Reads model.el.torva, log.el.torva, roi.el.torva, bn.el.torva, prob_map_torvael.nii and, when
// present, log.torva from `dir`. A missing, short or inconsistent file gives an error naming it.
std::string loadRunResults(const std::string &dir, RunResults &results);

// How the run resampled, as far as the result files tell: a jackknife leaves one of the K
// subjects out of each of its K iterations, a bootstrap draws K.
struct RunDescription {
  std::string method;     // "jackknife", "bootstrap" or "not recorded"
  std::string iterations; // "40", "at least 8" or "not recorded"
};
RunDescription describeRun(const RunResults &results);

// Smallest iteration count N >= minimum for which every share is a whole number of iterations
// out of N (to the six printed decimals) and the counts add up to N; 0 when none up to 10^6.
long smallestIterationCount(const std::vector<double> &shares, long minimum);
