#include "results/result_files.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "util/number_text.h"
#include "util/token_reader.h"
#include "util/whole_number.h"

namespace {

// Whitespace-separated tokens of one result file; every failure names the file and the item.
class ResultReader {
public:
  ResultReader(const std::string &path, std::string text)
      : path_(path), text_(std::move(text)), in_(text_) {}

  bool words(const char *expected) {
    torva::TokenReader wanted{std::string_view(expected)};
    std::string word;
    std::string token;
    while (wanted.next(word)) {
      if (!next(token, ("'" + std::string(expected) + "'").c_str()))
        return false;
      if (token != word)
        return fail("expected '" + std::string(expected) + "', found '" + token + "'");
    }
    return true;
  }

  bool integer(long &value, const char *what) {
    std::string token;
    if (!next(token, what))
      return false;
    if (!wholeNumberOf(token, value))
      return fail(std::string("the ") + what + " '" + token + "' is not an integer");
    return true;
  }

  bool number(double &value, const char *what) {
    std::string token;
    if (!next(token, what))
      return false;
    if (!numberOf(token, value) || !std::isfinite(value))
      return fail(std::string("the ") + what + " '" + token + "' is not a number");
    return true;
  }

  bool fail(const std::string &problem) {
    if (error_.empty())
      error_ = path_ + ": " + problem + "\n";
    return false;
  }
  const std::string &error() const { return error_; }

private:
  bool next(std::string &token, const char *what) {
    if (in_.next(token))
      return true;
    return fail(std::string("the file ends before the ") + what);
  }

  const std::string &path_;
  const std::string text_;
  torva::TokenReader in_;
  std::string error_;
};

std::string withoutBlanks(const std::string &line) {
  std::string kept;
  for (const char c : line)
    if (c != ' ' && c != '\t' && c != '\r')
      kept += c;
  return kept;
}

bool isStateCells(const std::string &cells) {
  return cells.find_first_not_of("01") == std::string::npos;
}

} // namespace

std::string readResultText(const std::string &path, std::string &text) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return path + " is missing or cannot be opened\n";
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad())
    return path + " cannot be read\n";
  text = contents.str();
  return std::string();
}

std::string parseModelSummary(const std::string &path, const std::string &text,
                              ModelSummary &summary) {
  summary = ModelSummary{};
  ResultReader in(path, text);
  long distinct = 0;
  long modeId = 0;
  if (!in.words("model ensemble includes") || !in.integer(distinct, "number of distinct models") ||
      !in.words("different models") || !in.words("model with highest frequency is model") ||
      !in.integer(modeId, "mode id") || !in.words("freq=") ||
      !in.number(summary.modeFrequency, "frequency of the mode") || !in.words("model freq="))
    return in.error();
  if (distinct < 1 || distinct > 100000000 || modeId < 0 || modeId > 2147483647L)
    return path + ": " + std::to_string(distinct) + " distinct models and mode id " +
           std::to_string(modeId) + " do not describe a finished run\n";
  summary.distinctModels = static_cast<int>(distinct);
  summary.modeId = static_cast<int>(modeId);
  // Grown as the shares are read: the count alone must not size an allocation beyond the file.
  for (long m = 0; m < distinct; ++m) {
    double share = 0.0;
    if (!in.number(share, "model frequencies"))
      return in.error();
    summary.sorted.push_back(share);
  }
  return std::string();
}

std::string parseVariableLog(const std::string &path, const std::string &text, VariableLog &log) {
  log = VariableLog{};
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || withoutBlanks(line) != "Variable_list")
    return path + ": the first line is not 'Variable_list'\n";
  while (std::getline(lines, line) && withoutBlanks(line) != "R-SET") {
    std::string cells;
    if (!std::getline(lines, cells))
      return path + ": variable " + withoutBlanks(line) + " has no data line\n";
    cells = withoutBlanks(cells);
    if (!isStateCells(cells) || (!log.cells.empty() && cells.size() != log.cells[0].size()))
      return path + ": the data line of variable " + withoutBlanks(line) +
             " is not one 0 or 1 per subject like the others\n";
    log.names.push_back(withoutBlanks(line));
    log.cells.push_back(cells);
  }
  if (withoutBlanks(line) != "R-SET")
    return path + ": the file ends before its R-SET line\n";
  std::ostringstream rest;
  rest << lines.rdbuf();
  ResultReader in(path, rest.str());
  long count = 0;
  if (!in.integer(count, "R-SET count"))
    return in.error();
  if (count < 0 || count + 1 != static_cast<long>(log.names.size()))
    return path + ": R-SET holds " + std::to_string(count) + " voxels, but " +
           std::to_string(log.names.size()) + " variables are listed (the voxels and fv)\n";
  for (long r = 0; r < count; ++r) {
    long index = 0;
    if (!in.integer(index, "R-SET voxel indices"))
      return in.error();
    if (index < 0 || std::to_string(index) != log.names[r])
      return path + ": R-SET voxel " + std::to_string(index) + " is not the listed variable " +
             log.names[r] + "\n";
    log.representatives.push_back(index);
  }
  if (log.names.back() != "fv")
    return path + ": the last variable is " + log.names.back() + ", not fv\n";
  return std::string();
}

std::string parseRoiField(const std::string &path, const std::string &text, RoiField &roi) {
  roi = RoiField{};
  ResultReader in(path, text);
  long regions = 0;
  long voxels = 0;
  if (!in.integer(regions, "region count") || !in.integer(voxels, "voxel count"))
    return in.error();
  if (regions < 0 || regions > 255 || voxels < 1 || voxels > 2147483647L)
    return path + ": " + std::to_string(regions) + " regions of " + std::to_string(voxels) +
           " voxels is not a label field\n";
  roi.regions = static_cast<int>(regions);
  // Every label takes at least two bytes of the file, which bounds the allocation.
  roi.labels.resize(static_cast<std::size_t>(std::min<long>(voxels, text.size() / 2 + 1)));
  for (long v = 0; v < voxels; ++v) {
    long label = 0;
    if (!in.integer(label, "voxel labels"))
      return path + ": holds " + std::to_string(v) + " labels, but announces " +
             std::to_string(voxels) + " voxels\n";
    if (label < 0 || label > regions)
      return path + ": voxel " + std::to_string(v + 1) + " is labelled " + std::to_string(label) +
             ", outside 0 .. " + std::to_string(regions) + "\n";
    if (static_cast<std::size_t>(v) == roi.labels.size())
      roi.labels.push_back(0);
    roi.labels[v] = static_cast<int>(label);
  }
  return std::string();
}

std::string parseRunLogCases(const std::string &path, const std::string &text, long &cases) {
  std::istringstream lines(text);
  std::string line;
  const std::string key = "sample_length ";
  while (std::getline(lines, line)) {
    if (line.compare(0, key.size(), key) != 0)
      continue;
    ResultReader in(path, line.substr(key.size()));
    if (!in.integer(cases, "sample length"))
      return in.error();
    // A count of cases below zero would reach the report's summary as a number of subjects.
    return cases >= 0 ? std::string()
                      : path + ": the sample length " + std::to_string(cases) + " is negative\n";
  }
  return path + ": no 'sample_length' line\n";
}
