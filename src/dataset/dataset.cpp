#include "dataset/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <numeric>

#include "dataset/csv_reader.h"
#include "util/fatal.h"

namespace {

const char kCorruptedFile[] =
    "Corrupted file.\n"
    "Possible solutions:\n"
    "1) file has missing values? \nReplace the missing value by null if a column is a categorical "
    "variable, or replace it by -999999999 if the column is numeric. \n"
    "2) file has hidden control characters?\nLoad csv file into excel and save it again. Or load "
    "csv using emacs and remove these characters.\n";

const char kNullText[] = "null";

// Median of values sorted in place: the middle one, or the mean of the two middle ones.
double medianOf(std::vector<double> &sample) {
  std::sort(sample.begin(), sample.end());
  const std::size_t n = sample.size();
  if (n % 2 == 1)
    return sample[n / 2];
  return (sample[n / 2 - 1] + sample[n / 2]) / 2.0;
}

} // namespace

Dataset::Dataset() = default;

Dataset::Dataset(long nodes, long cases) { setSize(nodes, cases); }

Dataset::~Dataset() = default;

void Dataset::setSize(long nodes, long cases) {
  if (nodes < 0 || cases < 0) {
    std::fprintf(stderr, "Dataset::setSize error: %ld nodes, %ld cases\n", nodes, cases);
    return;
  }
  nodeCount = static_cast<int>(nodes);
  caseCount = static_cast<int>(cases);
  values.assign(static_cast<std::size_t>(nodes) * static_cast<std::size_t>(cases), 0.0f);
  names.resize(nodes);
  for (int i = 0; i < nodeCount; ++i)
    names[i] = "n" + std::to_string(i);
  ns.assign(nodes, -1);
  order.resize(nodes);
  std::iota(order.begin(), order.end(), 0);
  targetVar = nodeCount - 1;
  stateMaps.clear();
}

void Dataset::getSize(long &nodes, long &cases) const {
  nodes = nodeCount;
  cases = caseCount;
}

void Dataset::setTargetVar(long v) { targetVar = static_cast<int>(v); }

void Dataset::getTargetVar(long &v) const { v = targetVar; }

void Dataset::setOneNode(const float *src, long node) {
  if (node < 0 || node >= nodeCount) {
    std::cerr << "Samples::setOneNode: out of bound";
    return;
  }
  for (int c = 0; c < caseCount; ++c)
    values[static_cast<std::size_t>(c) * nodeCount + node] = src[c];
}

void Dataset::getOneNode(float *dst, long node) const {
  if (node < 0 || node >= nodeCount) {
    std::cerr << "Samples::getOneNode: out of bound";
    return;
  }
  for (int c = 0; c < caseCount; ++c)
    dst[c] = values[static_cast<std::size_t>(c) * nodeCount + node];
}

void Dataset::setOneSamp(const float *src, long sample) {
  if (sample < 0 || sample >= caseCount) {
    std::fprintf(stderr, "sample index out of bound: sample index=%d", static_cast<int>(sample));
    return;
  }
  std::copy(src, src + nodeCount, values.begin() + sample * nodeCount);
}

void Dataset::getOneSamp(float *dst, long sample) const {
  if (sample < 0 || sample >= caseCount) {
    std::cerr << "out of bound";
    return;
  }
  std::copy(values.begin() + sample * nodeCount, values.begin() + (sample + 1) * nodeCount, dst);
}

void Dataset::setNs(const std::vector<int> &states) {
  if (static_cast<long>(states.size()) != nodeCount)
    torva::exitWithMessage(torva::kExitInputError, stderr, "Dataset::setNs error\n");
  ns = states;
}

void Dataset::getNs(std::vector<int> &states) const { states = ns; }

void Dataset::setNodeName(const std::vector<std::string> &nodeNames) {
  if (static_cast<long>(nodeNames.size()) != nodeCount)
    torva::exitWithMessage(torva::kExitInputError, stderr, "Dataset::setNodeName error\n");
  names = nodeNames;
}

void Dataset::getNodeName(std::vector<std::string> &nodeNames) const { nodeNames = names; }

void Dataset::getOrder(std::vector<int> &nodeOrder) const { nodeOrder = order; }

void Dataset::getStateMaps(std::vector<stateMap> &maps) const { maps = stateMaps; }

bool Dataset::isMissing(float value) {
  return std::fabs(static_cast<double>(value) + 1.0e9) < 0.00001;
}

void Dataset::readCSV(const char *path, int header) {
  if (CsvFailure failure = loadCSV(path, header))
    torva::exitWithMessage(torva::kExitInputError, failure.toStdout ? stdout : stderr,
                           failure.message);
}

CsvFailure Dataset::loadCSV(const char *path, int header) {
  CsvText text;
  const std::string problem = readCsvText(path, header != 0, text);
  if (!problem.empty())
    return {problem, false};
  const long variables = static_cast<long>(text.firstLine.size());
  const long cases = header != 0 ? text.lineCount - 1 : text.lineCount;
  std::printf(header != 0 ? "with header\n" : "no header\n");
  std::printf("%d cases, %d variables\n", static_cast<int>(cases), static_cast<int>(variables));
  if (static_cast<long>(text.cells.size()) != cases * variables)
    return {kCorruptedFile, true};

  setSize(variables, cases);
  if (header != 0)
    setNodeName(text.firstLine);
  // A column's type is decided by its first data cell alone.
  std::vector<int> states(variables, -1);
  for (int j = 0; j < nodeCount; ++j) {
    if (caseCount > 0 && !isPlainDecimal(text.cells[j]))
      states[j] = fillTextColumn(text.cells, j);
    else
      fillNumericColumn(text.cells, j, header != 0 ? 2 : 1, path);
  }
  setNs(states);
  return {};
}

void Dataset::fillNumericColumn(const std::vector<std::string> &cells, int column, int firstLine,
                                const char *path) {
  for (int c = 0; c < caseCount; ++c) {
    const std::size_t at = static_cast<std::size_t>(c) * nodeCount + column;
    const std::string &cell = cells[at];
    float value = kMissingValue;
    if (!cell.empty() && !parseDecimal(cell, value)) {
      value = kMissingValue;
      std::fprintf(stderr,
                   "Dataset::readCSV warning: %s line %d, column %d (%s): \"%s\" is not a number; "
                   "stored as missing\n",
                   path, firstLine + c, column + 1, names[column].c_str(), cell.c_str());
    }
    values[at] = value;
  }
}

int Dataset::fillTextColumn(const std::vector<std::string> &cells, int column) {
  std::vector<std::string> texts(caseCount);
  for (int c = 0; c < caseCount; ++c) {
    const std::string &cell = cells[static_cast<std::size_t>(c) * nodeCount + column];
    texts[c] = cell.empty() ? kNullText : cell;
  }
  // State numbers follow the byte order of the distinct texts, so they do not depend on the
  // order of the rows.
  std::vector<std::string> distinct = texts;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  for (std::size_t s = 0; s < distinct.size(); ++s) {
    const int state = static_cast<int>(s);
    const bool null = distinct[s] == kNullText;
    stateMaps.push_back({column, state, distinct[s], null ? kMissingCode : state});
  }
  for (int c = 0; c < caseCount; ++c) {
    const auto found = std::lower_bound(distinct.begin(), distinct.end(), texts[c]);
    const float state = static_cast<float>(found - distinct.begin());
    values[static_cast<std::size_t>(c) * nodeCount + column] =
        texts[c] == kNullText ? kMissingValue : state;
  }
  return static_cast<int>(distinct.size());
}

// Per variable, over its n non-missing values x (missing markers are left out everywhere):
//   mean = sum(x) / n,  sd = sqrt(sum((x - mean)^2) / (n - 1)),
//   median = mean when sd is 0, else the middle of the sorted values.
// Statistics without enough values (sd with n < 2, the rest with n = 0) print as nan.
void Dataset::summaryStatistics() const {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> present;
  present.reserve(caseCount);
  for (int v = 0; v < nodeCount; ++v) {
    present.clear();
    double sum = 0.0;
    double lowest = nan;
    double highest = nan;
    for (int c = 0; c < caseCount; ++c) {
      const float x = values[static_cast<std::size_t>(c) * nodeCount + v];
      if (isMissing(x))
        continue;
      if (present.empty() || x < lowest)
        lowest = x;
      if (present.empty() || x > highest)
        highest = x;
      present.push_back(x);
      sum += x;
    }
    const std::size_t n = present.size();
    const int missing = caseCount - static_cast<int>(n);
    const double mean = n > 0 ? sum / static_cast<double>(n) : nan;
    double sd = nan;
    if (n >= 2) {
      double squares = 0.0;
      for (double x : present)
        squares += (x - mean) * (x - mean);
      sd = std::sqrt(squares / static_cast<double>(n - 1));
    }
    double median = nan;
    if (sd == 0.0)
      median = mean;
    else if (n > 0)
      median = medianOf(present);
    std::printf("var=%d, mean=%7.5f, sd=%7.5f, min=%7.5f, max=%7.5f, median=%7.5f, #missing=%d, \n",
                v, mean, sd, lowest, highest, median, missing);
  }
}

void Dataset::view() const {
  std::printf("Dataset Info\n");
  std::printf("node name: number of states\n");
  for (int i = 0; i < nodeCount; ++i)
    std::printf("%s %d\n", names[i].c_str(), ns[i]);
  std::printf("order\n");
  for (int entry : order)
    std::printf("%d ", entry);
  std::printf("\n");
  std::printf("%d cases, %d nodes\n", caseCount, nodeCount);
  std::printf("Target variable is %d\n", targetVar);
}

void Dataset::viewStateMapping() const {
  for (const stateMap &record : stateMaps) {
    std::printf("************\n");
    std::printf("node %d\n", record.node);
    std::printf("state %d\n", record.state);
    std::printf("raw value = %s, transformed value =%d\n", record.raw.c_str(), record.transformed);
  }
}

void Dataset::display() const {
  for (int c = 0; c < caseCount; ++c) {
    for (int i = 0; i < nodeCount; ++i)
      std::cout << values[static_cast<std::size_t>(c) * nodeCount + i] << " ";
    std::cout << "\n";
  }
}
