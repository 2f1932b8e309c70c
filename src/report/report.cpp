#include "report/report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "report/atlas.h"
#include "report/evidence_files.h"
#include "report/html_page.h"
#include "report/montage.h"
#include "report/png_writer.h"
#include "report/region_table.h"
#include "report/run_results.h"
#include "report/study_summary.h"
#include "util/shell_quote.h"

const char *const kReportUsage =
    "usage: torvacoreel-report [--study torva.prj.filelist] [--background template.nii[.gz]] "
    "[--atlas ATLAS.nii[.gz] [--atlas-labels FILE]] [--out report] [RESULTS_DIR]\n";

namespace {

std::string writeText(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out ? std::string() : "cannot write " + path + "\n";
}

// The grey under the maps: the template when given, else the lesion overlap of the study.
std::string loadBackground(const ReportOptions &options, const Volume &grid,
                           const std::string &gridPath, const StudySummary &study,
                           std::vector<double> &values, std::string &name) {
  values.clear();
  name.clear();
  if (!options.background.empty()) {
    Volume background;
    std::string error = readVolume(options.background, background);
    if (!error.empty())
      return error;
    if (background.x != grid.x || background.y != grid.y || background.z != grid.z)
      return "background " + options.background + " is " + background.sizeText() +
             ", but the result image " + gridPath + " is " + grid.sizeText() + "\n";
    values = std::move(background.values);
    name = "template " + options.background;
  } else if (!options.study.empty()) {
    values.assign(study.overlap.begin(), study.overlap.end());
    name = "lesion overlap (subjects lesioned per voxel)";
  } else {
    values.assign(static_cast<std::size_t>(grid.voxels()), 0.0);
  }
  return std::string();
}

// What beside the run's own results goes onto the page: the held-out prediction, the
// permutation p-values and maps, and the atlas.
struct Evidence {
  HeldOutPrediction prediction;
  PermutationResults permutation;
  bool gainMaps = false;
  Volume gain;             // gain_map.nii
  std::vector<bool> shown; // gain_corrp_map.nii >= 0.95
  bool withAtlas = false;
  Atlas atlas;
};

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

// Fills the rows' p_fwe and atlas cells; says which of those columns the table gains.
AppendedColumns appendEvidence(const Evidence &evidence, const RunResults &results,
                               std::vector<RegionRow> &rows) {
  AppendedColumns appended;
  appended.pFwe = evidence.permutation.present;
  appended.atlas = evidence.withAtlas;
  for (std::size_t r = 0; appended.pFwe && r < rows.size(); ++r)
    rows[r].pFwe = evidence.permutation.rows[r].pFwe;
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

std::string writeGainMontage(const ReportOptions &options, const Evidence &evidence,
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
  return writePng(resultPath(options.out, view.image),
                  renderMasked(page.layout, grey, evidence.gain.values, evidence.shown, view.top));
}

// The page's view of the held-out prediction: the measures as the run wrote them, and the curves
// over the predicted subjects.
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
  return view;
}

std::string commandText(const std::vector<std::string> &words) {
  std::string text;
  for (const std::string &word : words)
    text += (text.empty() ? "" : " ") + shellWord(word);
  return text;
}

} // namespace

std::string parseReportOptions(const std::vector<std::string> &args, ReportOptions &options) {
  options = ReportOptions{};
  bool resultsGiven = false;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string &arg = args[a];
    std::string *value = arg == "--study"          ? &options.study
                         : arg == "--background"   ? &options.background
                         : arg == "--out"          ? &options.out
                         : arg == "--atlas"        ? &options.atlas
                         : arg == "--atlas-labels" ? &options.atlasLabels
                                                   : nullptr;
    if (value != nullptr) {
      if (a + 1 >= args.size() || args[a + 1].empty())
        return "the option " + arg + " needs a value\n";
      *value = args[++a];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option " + arg + "\n";
    } else if (resultsGiven) {
      return "only one results folder can be given (" + options.results + " and " + arg + ")\n";
    } else {
      options.results = arg;
      resultsGiven = true;
    }
  }
  if (!options.atlasLabels.empty() && options.atlas.empty())
    return "the option --atlas-labels names the labels of an --atlas image, and none is given\n";
  return std::string();
}

std::string writeReport(const ReportOptions &options, std::string &table) {
  RunResults results;
  std::string error = loadRunResults(options.results, results);
  if (!error.empty())
    return error;
  const std::string gridPath = resultPath(options.results, "prob_map_torvael.nii");
  StudySummary study;
  if (!options.study.empty() &&
      !(error = loadStudySummary(options.study, results.frequency, gridPath,
                                 results.variables.representatives, study))
           .empty())
    return error;
  if (!options.study.empty() && study.subjects != results.variables.subjects())
    return "file list " + options.study + " holds " + std::to_string(study.subjects) +
           " subjects, but the run's " + resultPath(options.results, "log.el.torva") + " holds " +
           std::to_string(results.variables.subjects()) + "\n";
  std::vector<double> background;
  std::string backgroundName;
  if (!(error =
            loadBackground(options, results.frequency, gridPath, study, background, backgroundName))
           .empty())
    return error;
  const bool withStudy = !options.study.empty();
  Evidence evidence;
  if (!(error = loadEvidence(options, results, gridPath, withStudy ? &study : nullptr, evidence))
           .empty())
    return error;

  std::error_code made;
  std::filesystem::create_directories(options.out, made);
  if (made)
    return "cannot create the output folder " + options.out + ": " + made.message() + "\n";

  std::vector<RegionRow> rows =
      regionRows(results.roi.labels, results.regions(), results.variables.representatives,
                 results.frequency, withStudy ? &study : nullptr);
  const AppendedColumns appended = appendEvidence(evidence, results, rows);
  if (!(error = writeText(resultPath(options.out, "regions.csv"),
                          regionsCsv(regionCells(rows, withStudy, false, appended))))
           .empty())
    return error;

  ReportPage page;
  page.table = regionCells(rows, withStudy, true, appended);
  table = rows.empty() ? "The most frequent model has no regions.\n" : alignedTable(page.table);
  page.layout = planMontage(results.frequency, results.roi.labels, background);
  page.backgroundTop = greyScaleTop(background);
  const std::vector<unsigned char> grey = greyLevels(background, page.backgroundTop);
  page.regionsImage = "axial.png";
  page.frequencyImage = "frequency.png";
  if (!(error = writePng(resultPath(options.out, page.regionsImage),
                         renderRegions(page.layout, grey, results.roi.labels)))
           .empty() ||
      !(error = writePng(resultPath(options.out, page.frequencyImage),
                         renderFrequency(page.layout, grey, results.frequency.values)))
           .empty())
    return error;
  if (evidence.gainMaps && !(error = writeGainMontage(options, evidence, grey, page)).empty())
    return error;

  page.run = evidence.prediction.present ? RunDescription{evidence.prediction.value("method"),
                                                          evidence.prediction.value("iterations")}
                                         : describeRun(results);
  page.prediction = predictionView(evidence.prediction, withStudy ? &study : nullptr);
  page.permutations =
      evidence.permutation.rows.empty() ? 0 : evidence.permutation.rows.front().permutations;
  page.atlas = options.atlas;
  page.summary = results.summary;
  page.subjects = results.variables.subjects();
  page.regions = results.regions();
  page.representatives = results.variables.representatives;
  page.network = &results.network;
  page.backgroundName = backgroundName;
  page.commands.push_back(commandText(options.commandLine));
  return writeText(resultPath(options.out, "report.html"), reportHtml(page));
}
