#include "report/report_evidence.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "report/png_writer.h"
#include "report/svg_text.h"
#include "roi/roi_settings.h"
#include "util/number_text.h"

namespace {

// 1 - p_fwe at the 5 % level, as the map's float32 stores it: 0.95 itself is a little below the
// double 0.95 there, and a voxel with p exactly 0.05 must count.
constexpr double kSignificantCorrP = static_cast<double>(0.95f);

// The prediction rows must be the file list's subjects, in its order.
std::string checkPredictionSubjects(const ReportOptions &options, const RunResults &results,
                                    const StudySummary *study,
                                    const HeldOutPrediction &prediction) {
  const std::string path = resultPath(options.results, "prediction.tsv");
  const long subjects = results.variables.subjects();
  if (static_cast<long>(prediction.rows.size()) != subjects)
    return path + " lists " + std::to_string(prediction.rows.size()) + " subjects, but the run's " +
           resultPath(options.results, "log.el.torva") + " holds " + std::to_string(subjects) +
           "\n";
  for (std::size_t s = 0; study != nullptr && s < prediction.rows.size(); ++s)
    if (prediction.rows[s].id != std::to_string(study->ids[s]))
      return path + " line " + std::to_string(s + 2) + " is subject " + prediction.rows[s].id +
             ", but entry " + std::to_string(s + 1) + " of the file list " + options.study +
             " is subject " + std::to_string(study->ids[s]) + "\n";
  return std::string();
}

std::string loadGainMaps(const std::string &dir, const Volume &grid, const std::string &gridPath,
                         Evidence &evidence) {
  const std::string corrpPath = resultPath(dir, "gain_corrp_map.nii");
  if (!std::ifstream(corrpPath))
    return std::string();
  Volume corrp;
  std::string error = readVolume(corrpPath, corrp);
  if (error.empty())
    error = readVolume(resultPath(dir, "gain_map.nii"), evidence.gain);
  if (!error.empty())
    return error;
  for (const auto &map : {std::make_pair(&corrp, corrpPath),
                          std::make_pair(&evidence.gain, resultPath(dir, "gain_map.nii"))})
    if (map.first->x != grid.x || map.first->y != grid.y || map.first->z != grid.z)
      return map.second + " is " + map.first->sizeText() + ", but the result image " + gridPath +
             " is " + grid.sizeText() + "\n";
  evidence.shown.assign(corrp.values.size(), false);
  for (std::size_t v = 0; v < corrp.values.size(); ++v)
    evidence.shown[v] = corrp.values[v] >= kSignificantCorrP;
  evidence.gainMaps = true;
  return std::string();
}

} // namespace

std::string loadEvidence(const ReportOptions &options, const RunResults &results,
                         const std::string &gridPath, const StudySummary *study,
                         Evidence &evidence) {
  std::string error = loadHeldOutPrediction(options.results, evidence.prediction);
  if (error.empty() && evidence.prediction.present)
    error = checkPredictionSubjects(options, results, study, evidence.prediction);
  if (error.empty())
    error =
        loadPermutation(options.results, results.variables.representatives, evidence.permutation);
  if (error.empty())
    error = loadGainMaps(options.results, results.frequency, gridPath, evidence);
  if (error.empty() && !options.atlas.empty()) {
    error =
        loadAtlas(options.atlas, options.atlasLabels, results.frequency, gridPath, evidence.atlas);
    evidence.withAtlas = error.empty();
  }
  return error;
}

AppendedColumns appendEvidence(const Evidence &evidence, const RunResults &results,
                               std::vector<RegionRow> &rows) {
  AppendedColumns appended;
  appended.pFwe = evidence.permutation.present;
  appended.atlas = evidence.withAtlas;
  appended.pFweVolume = evidence.permutation.present && evidence.permutation.withVolume;
  for (std::size_t r = 0; appended.pFwe && r < rows.size(); ++r) {
    rows[r].pFwe = evidence.permutation.rows[r].pFwe;
    rows[r].pFweVolume = evidence.permutation.rows[r].pFweVolume;
  }
  if (appended.atlas) {
    const std::vector<RegionAtlasLabels> labels = regionAtlasLabels(
        evidence.atlas, results.roi.labels, results.regions(), results.variables.representatives);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      rows[r].repLabel = labels[r].repLabel;
      rows[r].topLabels = labels[r].topLabels;
    }
  }
  return appended;
}

std::string writeGainMontage(const std::string &path, const Evidence &evidence,
                             const std::vector<unsigned char> &grey, ReportPage &page) {
  GainView &view = page.gain;
  view.image = "gain.png";
  const long plane = static_cast<long>(page.layout.gridX) * page.layout.gridY;
  for (std::size_t v = 0; v < evidence.shown.size(); ++v)
    if (evidence.shown[v]) {
      ++view.significant;
      view.top = std::max(view.top, evidence.gain.values[v]);
      const int k = static_cast<int>(static_cast<long>(v) / plane);
      view.shown += std::count(page.layout.slices.begin(), page.layout.slices.end(), k);
    }
  return writePng(path,
                  renderMasked(page.layout, grey, evidence.gain.values, evidence.shown, view.top));
}

std::string aucComparisonLine(const HeldOutPrediction &prediction) {
  const char *measures[] = {"auc",
                            "auc_ci_low",
                            "auc_ci_high",
                            "auc_lesion_volume",
                            "auc_difference",
                            "auc_difference_ci_low",
                            "auc_difference_ci_high"};
  double v[7] = {};
  for (int k = 0; k < 7; ++k)
    if (!numberOf(prediction.value(measures[k]), v[k]))
      return std::string();
  double p = 0;
  const std::string pText = prediction.value("auc_difference_p");
  std::string delong = "DeLong p not defined (the difference has no variance)";
  if (numberOf(pText, p))
    delong = p < 0.001 ? "DeLong p < 0.001" : "DeLong p = " + fixedText(p, 3);
  else if (pText != "NA")
    return std::string();
  return "held-out AUC " + fixedText(v[0], 3) + " (95 % CI " + fixedText(v[1], 2) + " to " +
         fixedText(v[2], 2) + ") against lesion volume " + fixedText(v[3], 3) + ": difference " +
         fixedText(v[4], 3) + " (" + fixedText(v[5], 2) + " to " + fixedText(v[6], 2) + "), " +
         delong;
}

std::string loadRepresentativeShare(const std::string &dir, std::string &share) {
  share.clear();
  const std::string path = resultPath(dir, kConfigurationFile);
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored))
    return std::string();
  std::ifstream in(path);
  RoiSettings settings;
  parseRoiSettings(in, settings);
  if (!settings.representativeShareGiven)
    return std::string();
  double value = 0;
  if (!parseDoubleToken(settings.representativeShareToken, value) || !(value > 0 && value < 1))
    return path + ": " + kRepresentativeShareLabel + " \"" + settings.representativeShareToken +
           "\" is not a number strictly between 0 and 1\n";
  share = shareText(settings.representativeShare);
  return std::string();
}

PredictionView predictionView(const HeldOutPrediction &prediction, const StudySummary *study) {
  PredictionView view;
  view.present = prediction.present;
  if (!view.present)
    return view;
  std::vector<double> predicted;
  std::vector<double> volume;
  std::vector<int> outcomes;
  for (std::size_t s = 0; s < prediction.rows.size(); ++s)
    if (prediction.rows[s].heldout > 0) {
      predicted.push_back(prediction.rows[s].p);
      outcomes.push_back(prediction.rows[s].outcome);
      volume.push_back(study != nullptr ? static_cast<double>(study->lesionVoxels[s]) : 0.0);
    }
  view.measures = {
      {"subjects predicted", prediction.value("predicted") + " of " + prediction.value("subjects")},
      {"AUC", prediction.value("auc")},
      {"AUC of lesion volume", prediction.value("auc_lesion_volume")},
      {"accuracy (cut at 0.5)", prediction.value("accuracy")},
      {"balanced accuracy", prediction.value("balanced_accuracy")},
      {"Brier score", prediction.value("brier")},
      {"log loss", prediction.value("log_loss")}};
  const std::vector<RocPoint> held = rocCurve(predicted, outcomes);
  if (!held.empty()) {
    view.roc.push_back({"held-out prediction, AUC " + prediction.value("auc"), "#3b528b", held});
    if (study != nullptr)
      view.roc.push_back({"lesion volume, AUC " + prediction.value("auc_lesion_volume"), "#c0392b",
                          rocCurve(volume, outcomes), true});
    else
      view.note = "Give --study to draw the lesion-volume curve beside it; its AUC is in the "
                  "table.";
  }
  view.bins = calibrationBins(predicted, outcomes);
  view.comparison = aucComparisonLine(prediction);
  return view;
}
