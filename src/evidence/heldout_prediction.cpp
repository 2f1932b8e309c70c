#include "evidence/heldout_prediction.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "data/packed_study.h"
#include "data/study_reader.h"

namespace {

bool stateOf(const PackedStudy &study, long node, int subject) {
  return ((study.node(node)[subject / 64] >> (subject % 64)) & 1u) != 0;
}

void appendNumber(std::string &text, const std::optional<double> &value) {
  if (!value) {
    text += "NA";
    return;
  }
  char number[64];
  std::snprintf(number, sizeof number, "%.6f", *value);
  text += number;
}

void appendMeasure(std::string &text, const char *name, const std::optional<double> &value) {
  text += name;
  text += '\t';
  appendNumber(text, value);
  text += '\n';
}

void appendCount(std::string &text, const char *name, long value) {
  text += name;
  text += '\t';
  text += std::to_string(value);
  text += '\n';
}

} // namespace

void heldOutSubjects(const std::vector<int> &drawn, int subjects, std::vector<int> &heldOut) {
  heldOut.clear();
  std::vector<char> seen(static_cast<std::size_t>(std::max(subjects, 0)), 0);
  for (const int s : drawn)
    if (s >= 0 && s < subjects)
      seen[static_cast<std::size_t>(s)] = 1;
  for (int s = 0; s < subjects; ++s)
    if (seen[static_cast<std::size_t>(s)] == 0)
      heldOut.push_back(s);
}

std::size_t configurationOf(const PackedStudy &study, const std::vector<int> &representatives,
                            int subject) {
  std::size_t j = 0;
  for (std::size_t t = 0; t < representatives.size(); ++t)
    if (stateOf(study, representatives[t] - 1, subject))
      j |= std::size_t{1} << t;
  return j;
}

bool predictHeldOut(const PackedStudy &study, const std::vector<int> &representatives,
                    const std::vector<double> &outcomeTable, const std::vector<int> &heldOut,
                    IterationPredictions &predictions) {
  predictions.clear();
  const std::size_t k = representatives.size();
  if (k >= 8 * sizeof(std::size_t) - 2)
    return false;
  const std::size_t q = std::size_t{1} << k;
  if (outcomeTable.size() != 2 + 2 * q)
    return false;
  predictions.reserve(heldOut.size());
  for (const int s : heldOut)
    predictions.push_back({s, outcomeTable[2 + configurationOf(study, representatives, s) + q]});
  return true;
}

void meanPredictions(const std::vector<IterationPredictions> &iterations, int subjects,
                     std::vector<SubjectPrediction> &means) {
  means.assign(static_cast<std::size_t>(std::max(subjects, 0)), SubjectPrediction{});
  for (const IterationPredictions &iteration : iterations)
    for (const HeldOutPrediction &prediction : iteration) {
      if (prediction.subject < 0 || prediction.subject >= subjects)
        continue;
      SubjectPrediction &mean = means[static_cast<std::size_t>(prediction.subject)];
      ++mean.heldout;
      mean.p += prediction.p;
    }
  for (SubjectPrediction &mean : means)
    if (mean.heldout > 0)
      mean.p /= mean.heldout;
}

// Walks the set bits of every voxel node: the work is the study's words plus its lesioned
// voxels, with no per-subject pass over the volume.
void lesionVolumes(const PackedStudy &study, long voxels, std::vector<long> &volumes) {
  volumes.assign(static_cast<std::size_t>(study.cases()), 0);
  const int words = study.words();
  const long nodes = std::min(voxels, study.nodes());
  for (long v = 0; v < nodes; ++v) {
    const std::uint64_t *bits = study.node(v);
    for (int w = 0; w < words; ++w)
      for (std::uint64_t word = bits[w]; word != 0; word &= word - 1)
        ++volumes[static_cast<std::size_t>(w) * 64 +
                  static_cast<std::size_t>(__builtin_ctzll(word))];
  }
}

PredictionSummary summarisePredictions(const std::vector<SubjectPrediction> &means,
                                       const std::vector<int> &outcomes,
                                       const std::vector<long> &volumes) {
  PredictionSummary summary;
  std::vector<double> p;
  std::vector<double> volume;
  std::vector<int> outcome;
  long truePositives = 0;
  long trueNegatives = 0;
  double squares = 0.0;
  double losses = 0.0;
  const std::size_t n = std::min(means.size(), outcomes.size());
  for (std::size_t s = 0; s < n; ++s) {
    if (means[s].heldout < 1)
      continue;
    const double ps = means[s].p;
    const bool one = outcomes[s] == 1;
    p.push_back(ps);
    outcome.push_back(one ? 1 : 0);
    volume.push_back(s < volumes.size() ? static_cast<double>(volumes[s]) : 0.0);
    summary.outcome1 += one ? 1 : 0;
    truePositives += one && ps > 0.5 ? 1 : 0;
    trueNegatives += !one && !(ps > 0.5) ? 1 : 0;
    const double error = ps - (one ? 1.0 : 0.0);
    squares += error * error;
    losses += one ? -std::log(ps) : -std::log(1.0 - ps);
  }
  summary.predicted = static_cast<int>(p.size());
  if (summary.predicted == 0)
    return summary;
  const double count = summary.predicted;
  summary.accuracy = static_cast<double>(truePositives + trueNegatives) / count;
  summary.brier = squares / count;
  summary.logLoss = losses / count;
  const int outcome0 = summary.predicted - summary.outcome1;
  if (summary.outcome1 == 0 || outcome0 == 0)
    return summary;
  summary.balancedAccuracy = (static_cast<double>(truePositives) / summary.outcome1 +
                              static_cast<double>(trueNegatives) / outcome0) /
                             2.0;
  summary.auc = mannWhitneyAuc(p, outcome);
  summary.aucLesionVolume = mannWhitneyAuc(volume, outcome);
  if (const std::optional<AucVariances> variances = delongVariances(p, volume, outcome))
    summary.comparison = compareAucs(*summary.auc, *summary.aucLesionVolume, *variances);
  return summary;
}

std::string predictionTableText(const FileList &list, const std::vector<SubjectPrediction> &means) {
  std::string text = "id\timage\toutcome\theldout\tp_outcome1\n";
  for (std::size_t s = 0; s < list.subjects.size(); ++s) {
    const SubjectEntry &subject = list.subjects[s];
    const SubjectPrediction mean = s < means.size() ? means[s] : SubjectPrediction{};
    text += std::to_string(subject.id) + '\t' + subject.path + '\t' + std::to_string(subject.fv) +
            '\t' + std::to_string(mean.heldout) + '\t';
    appendNumber(text, mean.heldout > 0 ? std::optional<double>(mean.p) : std::nullopt);
    text += '\n';
  }
  return text;
}

std::string predictionSummaryText(const std::string &method, int iterations, int subjects,
                                  const PredictionSummary &summary) {
  std::string text = "measure\tvalue\nmethod\t" + method + "\n";
  appendCount(text, "iterations", iterations);
  appendCount(text, "subjects", subjects);
  appendCount(text, "predicted", summary.predicted);
  appendCount(text, "outcome1", summary.outcome1);
  appendMeasure(text, "auc", summary.auc);
  appendMeasure(text, "accuracy", summary.accuracy);
  appendMeasure(text, "balanced_accuracy", summary.balancedAccuracy);
  appendMeasure(text, "brier", summary.brier);
  appendMeasure(text, "log_loss", summary.logLoss);
  appendMeasure(text, "auc_lesion_volume", summary.aucLesionVolume);
  const std::optional<AucComparison> &c = summary.comparison;
  const auto value = [&c](double AucComparison::*field) {
    return c ? std::optional<double>((*c).*field) : std::nullopt;
  };
  appendMeasure(text, "auc_ci_low", value(&AucComparison::ciLow));
  appendMeasure(text, "auc_ci_high", value(&AucComparison::ciHigh));
  appendMeasure(text, "auc_difference", value(&AucComparison::difference));
  appendMeasure(text, "auc_difference_ci_low", value(&AucComparison::differenceCiLow));
  appendMeasure(text, "auc_difference_ci_high", value(&AucComparison::differenceCiHigh));
  appendMeasure(text, "auc_difference_p", c ? c->differenceP : std::nullopt);
  return text;
}
