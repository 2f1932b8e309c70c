// The report's readers of a run's result files: model.el.torva, log.el.torva, roi.el.torva,
// log.torva and bn.el.torva. Each refuses a file with a message naming it or reads it into
// contents that agree with themselves.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bn/bn.h"
#include "fuzz_support.h"
#include "results/result_files.h"

using fuzzsupport::expect;

namespace {

void modelSummary(const std::string &path, const std::string &text) {
  ModelSummary summary;
  const std::string error = parseModelSummary(path, text, summary);
  if (!error.empty()) {
    expect(error.find(path) != std::string::npos, "the error names model.el.torva");
    return;
  }
  expect(summary.distinctModels >= 1 &&
             summary.sorted.size() == static_cast<std::size_t>(summary.distinctModels),
         "one share per distinct model");
}

void variableLog(const std::string &path, const std::string &text) {
  VariableLog log;
  const std::string error = parseVariableLog(path, text, log);
  if (!error.empty()) {
    expect(error.find(path) != std::string::npos, "the error names log.el.torva");
    return;
  }
  expect(log.names.size() == log.cells.size(), "one data row per variable");
  for (const std::string &cells : log.cells) {
    expect(static_cast<long>(cells.size()) == log.subjects(), "every variable has every subject");
    expect(cells.find_first_not_of("01") == std::string::npos, "cells are 0 or 1");
  }
  for (const long index : log.representatives)
    expect(index >= 0, "representative voxels have indices");
}

void roiField(const std::string &path, const std::string &text) {
  RoiField roi;
  const std::string error = parseRoiField(path, text, roi);
  if (!error.empty()) {
    expect(error.find(path) != std::string::npos, "the error names roi.el.torva");
    return;
  }
  for (const int label : roi.labels)
    expect(label <= roi.regions, "no label above the region count");
}

void runLog(const std::string &path, const std::string &text) {
  long cases = -1;
  const std::string error = parseRunLogCases(path, text, cases);
  expect(error.empty() ? cases >= 0 : error.find(path) != std::string::npos,
         "a case count or an error naming log.torva");
}

void network(const std::string &path) {
  BN bn;
  std::string error;
  if (!bn.readFile(path.c_str(), error))
    expect(bn.getNodeCount() == 0, "a refused network is empty");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  switch (data[0] % 5) {
  case 0:
    modelSummary("model.el.torva", text);
    break;
  case 1:
    variableLog("log.el.torva", text);
    break;
  case 2:
    roiField("roi.el.torva", text);
    break;
  case 3:
    runLog("log.torva", text);
    break;
  default: {
    fuzzsupport::MemoryFile input(data + 1, size - 1);
    network(input.path());
  }
  }
  return 0;
}
