#include "report/report.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "report/html_page.h"
#include "report/montage.h"
#include "report/png_writer.h"
#include "report/region_table.h"
#include "report/report_evidence.h"
#include "report/run_results.h"
#include "report/study_summary.h"
#include "results/result_transaction.h"
#include "util/command_line.h"
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

std::string commandText(const std::vector<std::string> &words) {
  std::string text;
  for (const std::string &word : words)
    text += (text.empty() ? "" : " ") + shellWord(word);
  return text;
}

} // namespace

std::string parseReportOptions(const std::vector<std::string> &args, ReportOptions &options) {
  options = ReportOptions{};
  static const std::vector<torva::OptionSpec> known = {{"study", true},
                                                       {"background", true},
                                                       {"out", true},
                                                       {"atlas", true},
                                                       {"atlas-labels", true}};
  torva::ParsedCommandLine line;
  if (std::string problem = torva::parseCommandLine(args, known, line); !problem.empty())
    return problem + "\n";
  if (torva::takeHelpOrVersion(line, options.help, options.version))
    return std::string();
  for (const auto &[name, value] : line.options) {
    if (value.empty())
      return "the option --" + name + " needs a value\n";
    std::string &field = name == "study"        ? options.study
                         : name == "background" ? options.background
                         : name == "out"        ? options.out
                         : name == "atlas"      ? options.atlas
                                                : options.atlasLabels;
    field = value;
  }
  if (line.operands.size() > 1)
    return "only one results folder can be given (" + line.operands[0] + " and " +
           line.operands[1] + ")\n";
  if (!line.operands.empty())
    options.results = line.operands[0];
  if (!options.atlasLabels.empty() && options.atlas.empty())
    return "the option --atlas-labels names the labels of an --atlas image, and none is given\n";
  return std::string();
}

std::string reportHelp() {
  return std::string(kReportUsage) +
         "Turns a finished run's result files in RESULTS_DIR (default: the current folder) into a\n"
         "region table in millimetres, slice pictures and a one-page HTML report.\n"
         "  --study FILE         the run's file list: adds subject counts and outcome tables\n"
         "  --background FILE    a template image on the results' grid, under the montages\n"
         "  --atlas FILE         an integer label image on the results' grid\n"
         "  --atlas-labels FILE  one 'index name' pair per line, naming the atlas labels\n"
         "  --out DIR            the folder for the report (default: report)\n"
         "  -h, --help           show this text and exit\n"
         "  --version            show the version and exit\n";
}

namespace {

// The folders of `path` that do not exist yet, deepest first.
std::vector<std::filesystem::path> missingFolders(const std::filesystem::path &path) {
  std::vector<std::filesystem::path> missing;
  std::error_code ignored;
  for (std::filesystem::path at = path; !at.empty() && !std::filesystem::exists(at, ignored);
       at = at.parent_path()) {
    missing.push_back(at);
    if (at == at.parent_path())
      break;
  }
  return missing;
}

std::string writeStagedReport(const ReportOptions &options, ResultTransaction &staged,
                              std::string &table);

} // namespace

std::string writeReport(const ReportOptions &options, std::string &table) {
  const std::vector<std::filesystem::path> made = missingFolders(options.out);
  std::error_code failed;
  std::filesystem::create_directories(options.out, failed);
  if (failed)
    return "cannot create the output folder " + options.out + ": " + failed.message() + "\n";
  std::string error;
  {
    // Every page file is staged from the start and put in place together, so a failed, stopped
    // or killed run leaves an earlier report whole.
    ResultTransaction staged(options.out);
    error = staged.open();
    if (error.empty())
      error = writeStagedReport(options, staged, table);
  }
  // A folder this run made goes with a failure, unless something else was put there meanwhile.
  if (!error.empty())
    for (const std::filesystem::path &folder : made)
      ::rmdir(folder.c_str());
  return error;
}

namespace {

std::string writeStagedReport(const ReportOptions &options, ResultTransaction &staged,
                              std::string &table) {
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
  std::string representativeShare;
  if (!(error = loadRepresentativeShare(options.results, representativeShare)).empty())
    return error;
  Evidence evidence;
  if (!(error = loadEvidence(options, results, gridPath, withStudy ? &study : nullptr, evidence))
           .empty())
    return error;

  std::vector<RegionRow> rows =
      regionRows(results.roi.labels, results.regions(), results.variables.representatives,
                 results.frequency, withStudy ? &study : nullptr);
  const AppendedColumns appended = appendEvidence(evidence, results, rows);
  if (!(error = writeText(staged.stagedPath("regions.csv"),
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
  if (!(error = writePng(staged.stagedPath(page.regionsImage),
                         renderRegions(page.layout, grey, results.roi.labels)))
           .empty() ||
      !(error = writePng(staged.stagedPath(page.frequencyImage),
                         renderFrequency(page.layout, grey, results.frequency.values)))
           .empty())
    return error;
  if (evidence.gainMaps &&
      !(error = writeGainMontage(staged.stagedPath("gain.png"), evidence, grey, page)).empty())
    return error;

  page.run = evidence.prediction.present ? RunDescription{evidence.prediction.value("method"),
                                                          evidence.prediction.value("iterations")}
                                         : describeRun(results);
  page.prediction = predictionView(evidence.prediction, withStudy ? &study : nullptr);
  page.permutations =
      evidence.permutation.rows.empty() ? 0 : evidence.permutation.rows.front().permutations;
  page.volumeControl = appended.pFweVolume;
  page.representativeShare = representativeShare;
  page.atlas = options.atlas;
  page.summary = results.summary;
  page.subjects = results.variables.subjects();
  page.regions = results.regions();
  page.representatives = results.variables.representatives;
  page.network = &results.network;
  page.backgroundName = backgroundName;
  page.commands.push_back(commandText(options.commandLine));
  if (!(error = writeText(staged.stagedPath("report.html"), reportHtml(page))).empty())
    return error;
  return staged.commit();
}

} // namespace
