#pragma once
// Reading back the text result files of a finished run ("model.el.torva", "log.el.torva",
// "roi.el.torva" and the run log "log.torva"), for the tools that work on results. Each parser
// returns an error message naming the file, or an empty string on success.
#include <string>
#include <vector>

// "model.el.torva": the ensemble summary.
struct ModelSummary {
  int distinctModels = 0;
  int modeId = 0;             // iteration in which the most frequent model first occurred
  double modeFrequency = 0;   // its share of the iterations, 0 .. 1
  std::vector<double> sorted; // every distinct model's share, ascending
};

// "log.el.torva": the data of the final network's variables and the representative voxels.
struct VariableLog {
  std::vector<std::string> names;    // voxel index in the full data set, "fv" last
  std::vector<std::string> cells;    // per variable one '0'/'1' character per subject
  std::vector<long> representatives; // R-SET: 0-based voxel indices in region order
  long subjects() const { return cells.empty() ? 0 : static_cast<long>(cells.front().size()); }
};

// "roi.el.torva": the consensus label of every voxel.
struct RoiField {
  int regions = 0;
  std::vector<int> labels;
};

// Whole contents of `path` into `text`; an error naming the file when it cannot be read.
std::string readResultText(const std::string &path, std::string &text);

std::string parseModelSummary(const std::string &path, const std::string &text,
                              ModelSummary &summary);
std::string parseVariableLog(const std::string &path, const std::string &text, VariableLog &log);
std::string parseRoiField(const std::string &path, const std::string &text, RoiField &roi);
// The case count of the run log's "sample_length" line: the subjects of the last iteration.
std::string parseRunLogCases(const std::string &path, const std::string &text, long &cases);
