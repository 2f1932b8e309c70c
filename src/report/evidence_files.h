#pragma once
// The evidence files beside a run's results, when the run or a later command wrote them: the
// held-out predictions (prediction.tsv, prediction_summary.tsv) and the permutation p-values
// (permutation.tsv). Each loader leaves `present` false when its files are absent and returns an
// error naming the file when one is there but malformed.
#include <string>
#include <utility>
#include <vector>

struct PredictionRow {
  std::string id;
  int outcome = 0;
  long heldout = 0;
  double p = 0; // P(outcome 1), meaningful when heldout > 0
};

struct HeldOutPrediction {
  bool present = false;
  std::vector<PredictionRow> rows;                          // list order
  std::vector<std::pair<std::string, std::string>> summary; // measure, value as written

  // The summary's value of `measure` as written ("NA" included), "" when it is not listed.
  std::string value(const std::string &measure) const;
};

// Reads prediction.tsv and prediction_summary.tsv of `dir`: both or neither must be there.
std::string loadHeldOutPrediction(const std::string &dir, HeldOutPrediction &prediction);

struct PermutationRow {
  int region = 0;
  long repId = 0;   // 1-based voxel id
  std::string pFwe; // as written
  long permutations = 0;
  std::string pFweVolume; // as written; "" in a file from before the lesion-size control
};

struct PermutationResults {
  bool present = false;
  bool withVolume = false;          // the file has the p_fwe_volume column
  std::vector<PermutationRow> rows; // region order
};

// Reads permutation.tsv of `dir`, with or without its last column p_fwe_volume, and checks its
// regions against the run's representatives (0-based voxel indices in region order).
std::string loadPermutation(const std::string &dir, const std::vector<long> &representatives,
                            PermutationResults &permutation);
