#include "report/evidence_files.h"

#include <filesystem>
#include <sstream>

#include "report/run_results.h"
#include "results/result_files.h"
#include "util/number_text.h"
#include "util/whole_number.h"

namespace {

const char *const kPredictionHeader = "id\timage\toutcome\theldout\tp_outcome1";
const char *const kSummaryHeader = "measure\tvalue";
const char *const kPermutationHeader =
    "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations";
// The header of the files written since the lesion-size control: one more column.
const char *const kPermutationVolumeHeader =
    "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\tp_fwe_volume";

std::vector<std::string> tabFields(const std::string &line) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos;
       begin = tab + 1, tab = line.find('\t', begin))
    fields.push_back(line.substr(begin, tab - begin));
  fields.push_back(line.substr(begin));
  return fields;
}

// The lines of a tab-separated file after its header, which must be `header` or, when given,
// `newerHeader` (whose column count it then takes); each line split into exactly as many fields
// as its header names.
std::string readTable(const std::string &path, const char *header,
                      std::vector<std::vector<std::string>> &lines,
                      const char *newerHeader = nullptr) {
  lines.clear();
  std::string text;
  std::string error = readResultText(path, text);
  if (!error.empty())
    return error;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) ||
      (line != header && (newerHeader == nullptr || line != newerHeader)))
    return path + ": the first line must be the header \"" +
           (newerHeader != nullptr ? newerHeader : header) + "\"\n";
  const std::size_t columns = tabFields(line).size();
  for (long number = 2; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(tabFields(line));
    if (lines.back().size() != columns)
      return path + " line " + std::to_string(number) + " has " +
             std::to_string(lines.back().size()) + " fields; the header names " +
             std::to_string(columns) + "\n";
  }
  return std::string();
}

bool exists(const std::string &path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

std::string badField(const std::string &path, std::size_t line, const char *column,
                     const std::string &value) {
  return path + " line " + std::to_string(line + 2) + ": " + column + " \"" + value +
         "\" is not a valid value\n";
}

std::string parsePredictionRows(const std::string &path,
                                const std::vector<std::vector<std::string>> &lines,
                                std::vector<PredictionRow> &rows) {
  rows.clear();
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::vector<std::string> &f = lines[n];
    PredictionRow row;
    row.id = f[0];
    long outcome = 0;
    if (!wholeNumberOf(f[2], outcome) || (outcome != 0 && outcome != 1))
      return badField(path, n, "outcome", f[2]);
    row.outcome = static_cast<int>(outcome);
    if (!wholeNumberOf(f[3], row.heldout) || row.heldout < 0)
      return badField(path, n, "heldout", f[3]);
    const bool na = f[4] == "NA";
    if (na != (row.heldout == 0) ||
        (!na && (!numberOf(f[4], row.p) || !(row.p >= 0.0 && row.p <= 1.0))))
      return badField(path, n, "p_outcome1", f[4]);
    rows.push_back(row);
  }
  return std::string();
}

} // namespace

std::string HeldOutPrediction::value(const std::string &measure) const {
  for (const auto &entry : summary)
    if (entry.first == measure)
      return entry.second;
  return std::string();
}

std::string loadHeldOutPrediction(const std::string &dir, HeldOutPrediction &prediction) {
  prediction = HeldOutPrediction{};
  const std::string rowsPath = resultPath(dir, "prediction.tsv");
  const std::string summaryPath = resultPath(dir, "prediction_summary.tsv");
  const bool haveRows = exists(rowsPath);
  const bool haveSummary = exists(summaryPath);
  if (!haveRows && !haveSummary)
    return std::string();
  if (haveRows != haveSummary)
    return (haveRows ? summaryPath : rowsPath) + " is missing, but " +
           (haveRows ? rowsPath : summaryPath) + " is there; both come from the same run\n";
  std::vector<std::vector<std::string>> lines;
  std::string error = readTable(rowsPath, kPredictionHeader, lines);
  if (error.empty())
    error = parsePredictionRows(rowsPath, lines, prediction.rows);
  if (error.empty())
    error = readTable(summaryPath, kSummaryHeader, lines);
  if (!error.empty())
    return error;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string &measure = lines[n][0];
    const std::string &value = lines[n][1];
    double number = 0;
    const bool valid = measure == "method" ? value == "jackknife" || value == "bootstrap"
                                           : value == "NA" || numberOf(value, number);
    if (!valid)
      return badField(summaryPath, n, measure.c_str(), value);
    prediction.summary.emplace_back(measure, value);
  }
  for (const char *measure : {"method", "iterations", "subjects", "auc", "accuracy",
                              "balanced_accuracy", "brier", "log_loss", "auc_lesion_volume"})
    if (prediction.value(measure).empty())
      return summaryPath + " has no value for \"" + measure + "\"\n";
  prediction.present = true;
  return std::string();
}

std::string loadPermutation(const std::string &dir, const std::vector<long> &representatives,
                            PermutationResults &permutation) {
  permutation = PermutationResults{};
  const std::string path = resultPath(dir, "permutation.tsv");
  if (!exists(path))
    return std::string();
  std::vector<std::vector<std::string>> lines;
  std::string error = readTable(path, kPermutationHeader, lines, kPermutationVolumeHeader);
  if (!error.empty())
    return error;
  if (lines.size() != representatives.size())
    return path + " has " + std::to_string(lines.size()) + " regions, but the run's " +
           resultPath(dir, "log.el.torva") + " has " + std::to_string(representatives.size()) +
           "\n";
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::vector<std::string> &f = lines[n];
    PermutationRow row;
    long region = 0;
    double p = 0;
    if (!wholeNumberOf(f[0], region) || region != static_cast<long>(n) + 1)
      return badField(path, n, "region", f[0]);
    row.region = static_cast<int>(region);
    if (!wholeNumberOf(f[1], row.repId))
      return badField(path, n, "rep_id", f[1]);
    if (row.repId != representatives[n] + 1)
      return path + " line " + std::to_string(n + 2) + ": region " + f[0] +
             " has representative voxel " + f[1] + ", but the run's " +
             resultPath(dir, "log.el.torva") + " has " + std::to_string(representatives[n] + 1) +
             "\n";
    if (!numberOf(f[3], p) || !(p > 0.0 && p <= 1.0))
      return badField(path, n, "p_fwe", f[3]);
    row.pFwe = f[3];
    if (!wholeNumberOf(f[6], row.permutations) || row.permutations < 1)
      return badField(path, n, "permutations", f[6]);
    if (f.size() > 7) {
      if (!numberOf(f[7], p) || !(p > 0.0 && p <= 1.0))
        return badField(path, n, "p_fwe_volume", f[7]);
      row.pFweVolume = f[7];
    }
    permutation.rows.push_back(row);
  }
  permutation.withVolume = !lines.empty() && lines.front().size() > 7;
  permutation.present = true;
  return std::string();
}
