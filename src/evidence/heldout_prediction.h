#pragma once
// Held-out prediction. Each resampling iteration's network, the add-one-smoothed table of the
// outcome given the iteration's representative voxels, predicts the subjects the iteration did
// not draw; a subject's prediction is the mean over the iterations that held it out. The
// measures below say how well those means, and for comparison the lesion volume, separate the
// two outcomes. Everything here is plain arithmetic on the decoded study, so the driver, the
// merge and the report compute the same numbers.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "evidence/auc.h"

class PackedStudy;
struct FileList;

// One prediction of one iteration: the subject's list position and P(outcome = 1).
struct HeldOutPrediction {
  int subject = 0;
  double p = 0.0;
  bool operator==(const HeldOutPrediction &other) const {
    return subject == other.subject && p == other.p;
  }
};
// The predictions of one iteration, in ascending subject position.
using IterationPredictions = std::vector<HeldOutPrediction>;

// The positions 0 .. subjects-1 that do not occur in `drawn`, ascending: the left-out subject of
// a jackknife iteration, the out-of-bag subjects of a bootstrap one.
void heldOutSubjects(const std::vector<int> &drawn, int subjects, std::vector<int> &heldOut);

// Configuration index of `subject` at the representatives R_1, R_2, ... (1-based voxel ids, in
// the order found): j = sum_t state(R_t) * 2^(t-1), the column order of the outcome's table.
std::size_t configurationOf(const PackedStudy &study, const std::vector<int> &representatives,
                            int subject);

// P(outcome = 1 | the subject's states at the representatives) for every subject of `heldOut`,
// read from `outcomeTable`, the function variable's table of the iteration's network:
// [node id, 2q, P(0 | j) for j < q, P(1 | j) for j < q] with q = 2^k for k representatives.
// With no representative q = 1 and the prediction is the smoothed base rate. Returns false,
// leaving `predictions` empty, when the table does not have that size.
bool predictHeldOut(const PackedStudy &study, const std::vector<int> &representatives,
                    const std::vector<double> &outcomeTable, const std::vector<int> &heldOut,
                    IterationPredictions &predictions);

// A subject's prediction over the whole run: how many iterations predicted it and the mean of
// their predictions, summed in iteration order (meaningless when `heldout` is 0).
struct SubjectPrediction {
  int heldout = 0;
  double p = 0.0;
};

// Per subject position 0 .. subjects-1, from every iteration's predictions in iteration order.
void meanPredictions(const std::vector<IterationPredictions> &iterations, int subjects,
                     std::vector<SubjectPrediction> &means);

// Per subject, its number of voxels in state 1: nodes 0 .. voxels-1 of `study`.
void lesionVolumes(const PackedStudy &study, long voxels, std::vector<long> &volumes);

// Measures over the subjects predicted at least once; an empty value is "NA".
struct PredictionSummary {
  int predicted = 0; // subjects with heldout >= 1
  int outcome1 = 0;  // of them, with outcome 1
  std::optional<double> auc;
  std::optional<double> accuracy; // predicted 1 when p > 0.5
  std::optional<double> balancedAccuracy;
  std::optional<double> brier;   // mean (p - outcome)^2
  std::optional<double> logLoss; // mean -ln p (outcome 1), -ln(1 - p) (outcome 0)
  std::optional<double> aucLesionVolume;
  // DeLong (evidence/auc.h), paired on the predicted subjects: the AUC's 95 %
  // interval, and its difference from aucLesionVolume with interval and p-value. Empty when
  // fewer than 2 predicted subjects hold either outcome.
  std::optional<AucComparison> comparison;
};

// `means`, `outcomes` and `volumes` are per subject position. Sums run in subject order.
PredictionSummary summarisePredictions(const std::vector<SubjectPrediction> &means,
                                       const std::vector<int> &outcomes,
                                       const std::vector<long> &volumes);

// "prediction.tsv": header "id\timage\toutcome\theldout\tp_outcome1", one row per list entry.
std::string predictionTableText(const FileList &list, const std::vector<SubjectPrediction> &means);

// "prediction_summary.tsv": header "measure\tvalue", then the method ("jackknife" or
// "bootstrap"), the counts, the six measures and the six rows of the DeLong comparison, in %.6f
// or NA.
std::string predictionSummaryText(const std::string &method, int iterations, int subjects,
                                  const PredictionSummary &summary);

constexpr const char *kPredictionFile = "prediction.tsv";
constexpr const char *kPredictionSummaryFile = "prediction_summary.tsv";
