#pragma once
// Builds a study folder from a participants table and its lesion masks: the 0/1 images, the
// file list the analysis reads, the subject table, the overlap image, and the figures of the
// summary.
#include <array>
#include <string>
#include <vector>

#include "prepare/prepare_options.h"

struct PrepareSummary {
  std::vector<std::string> warnings; // one per skipped row, printed before the summary
  long rows = 0;
  long kept = 0;
  int skippedNoId = 0;
  int skippedOutcome = 0;
  int skippedMissingMask = 0;
  long outcomeOnes = 0;
  long notBinary = 0; // masks with values other than 0 and 1
  std::string lesionRule;
  std::vector<long> volumes; // lesioned voxels per kept subject, in list order
  double voxelMm3 = 0.0;
  int x = 0, y = 0, z = 0;
  long lesionedAnywhere = 0;
  long largestOverlap = 0;
  long overAFifth = 0; // voxels lesioned in more than a fifth of the kept subjects
  // Voxels that a representativeShare of 0.05, 0.1 and 0.2 lets pass the norm test: lesioned in
  // more than int(kept * share) subjects.
  std::array<long, 3> overShares{};
  std::string out;
};

// The shares of PrepareSummary::overShares and how the summary names them.
constexpr std::array<double, 3> kSummaryShares = {0.05, 0.1, 0.2};
constexpr std::array<const char *, 3> kSummaryShareNames = {"5 %", "10 %", "20 %"};

// Runs the whole preparation. Returns an empty string on success, else the refusal; nothing is
// written to options.out before every table row and mask header has passed its checks.
std::string prepareStudy(const PrepareOptions &options, PrepareSummary &summary);

// The summary printed on standard output after a successful run.
std::string formatSummary(const PrepareSummary &summary);

// The warning for standard error (without "warning: ") when no voxel is lesioned in more than a
// fifth of the subjects, so that no representative voxel can be chosen; "" otherwise.
std::string overlapWarning(const PrepareSummary &summary);
