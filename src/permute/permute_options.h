#pragma once
// Command line of torvacoreel-permute.
#include <cstdint>
#include <string>
#include <vector>

#include "evidence/permutation_test.h"

constexpr const char *kPermuteUsage =
    "usage: torvacoreel-permute [--permutations N] [--seed S] [--volume-bins B] [--out DIR] "
    "fileList [RESULTS_DIR]\n";

constexpr long kDefaultPermutations = 5000;
constexpr long kMaxPermutations = 1000000;

struct PermuteOptions {
  long permutations = kDefaultPermutations;
  std::uint64_t seed = 1;
  int volumeBins = kDefaultVolumeBins; // lesion-volume bins of p_fwe_volume, 1 to 10
  std::string listPath;
  std::string resultsDir = ".";
  std::string outDir; // empty: the results folder
  bool help = false;
  bool version = false;
};

// Parses `args` (args[0] is the program name) with getopt_long: "--opt value" and "--opt=value".
// Returns "" or one line naming the problem (an unknown option, a missing value, a count, seed or
// bin count that is not a whole number in range, a wrong number of arguments).
std::string parsePermuteOptions(const std::vector<std::string> &args, PermuteOptions &options);

// The usage line and one line per option, for --help.
std::string permuteHelpText();
