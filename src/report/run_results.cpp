#include "report/run_results.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

// Reads the text file `name` of `dir` and hands it to `parse`.
template <typename Parsed, typename Parser>
std::string parseResultFile(const std::string &dir, const char *name, Parser parse, Parsed &into) {
  const std::string path = resultPath(dir, name);
  std::string text;
  std::string error = readResultText(path, text);
  return error.empty() ? parse(path, text, into) : error;
}

std::string checkAgreement(const RunResults &r) {
  const long voxels = r.frequency.voxels();
  if (static_cast<long>(r.roi.labels.size()) != voxels)
    return resultPath(r.dir, "roi.el.torva") + " labels " + std::to_string(r.roi.labels.size()) +
           " voxels, but " + resultPath(r.dir, "prob_map_torvael.nii") + " is " +
           r.frequency.sizeText() + " = " + std::to_string(voxels) + " voxels\n";
  const std::size_t regions = static_cast<std::size_t>(r.roi.regions);
  if (r.variables.representatives.size() != regions)
    return resultPath(r.dir, "log.el.torva") + " lists " +
           std::to_string(r.variables.representatives.size()) + " representative voxels, but " +
           resultPath(r.dir, "roi.el.torva") + " has " + std::to_string(regions) + " regions\n";
  for (const long index : r.variables.representatives)
    if (index >= voxels)
      return resultPath(r.dir, "log.el.torva") + ": representative voxel index " +
             std::to_string(index) + " lies outside the " + std::to_string(voxels) +
             " voxels of the result grid\n";
  if (r.network.getNodeCount() != r.roi.regions + 1)
    return resultPath(r.dir, "bn.el.torva") + " holds " + std::to_string(r.network.getNodeCount()) +
           " nodes; " + std::to_string(regions) + " regions and the outcome need " +
           std::to_string(regions + 1) + "\n";
  return std::string();
}

} // namespace

std::string resultPath(const std::string &dir, const std::string &name) {
  if (dir.empty() || dir == ".")
    return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string loadRunResults(const std::string &dir, RunResults &results) {
  results.dir = dir;
  std::string error = parseResultFile(dir, "model.el.torva", parseModelSummary, results.summary);
  if (error.empty())
    error = parseResultFile(dir, "log.el.torva", parseVariableLog, results.variables);
  if (error.empty())
    error = parseResultFile(dir, "roi.el.torva", parseRoiField, results.roi);
  if (!error.empty())
    return error;
  const std::string network = resultPath(dir, "bn.el.torva");
  if (!std::ifstream(network))
    return network + " is missing or cannot be opened\n";
  if (!results.network.readFile(network.c_str()))
    return network + " is short or is not a network in the text format\n";
  if (!(error = readVolume(resultPath(dir, "prob_map_torvael.nii"), results.frequency)).empty())
    return error;
  results.lastCases = -1;
  const std::string runLog = resultPath(dir, "log.torva");
  if (std::ifstream(runLog)) {
    error = parseResultFile(dir, "log.torva", parseRunLogCases, results.lastCases);
    if (!error.empty())
      return error;
  }
  return checkAgreement(results);
}

long smallestIterationCount(const std::vector<double> &shares, long minimum) {
  for (long n = std::max(1L, minimum); n <= 1000000; ++n) {
    long total = 0;
    bool whole = true;
    for (const double share : shares) {
      const long count = std::lround(share * n);
      // Shares are printed with six decimals, so each is within 5e-7 of count / n.
      whole = whole && count >= 1 && std::fabs(static_cast<double>(count) / n - share) <= 5.1e-7;
      total += count;
    }
    if (whole && total == n)
      return n;
  }
  return 0;
}

RunDescription describeRun(const RunResults &results) {
  const long subjects = results.variables.subjects();
  if (results.lastCases == subjects - 1 && subjects > 1)
    return {"jackknife", std::to_string(subjects)};
  if (results.lastCases == subjects && subjects > 0) {
    // The bootstrap's iteration count is not written anywhere; the shares bound it from below.
    const long n = smallestIterationCount(results.summary.sorted, results.summary.modeId + 1L);
    return {"bootstrap", n > 0 ? "at least " + std::to_string(n) : "not recorded"};
  }
  return {"not recorded", "not recorded"};
}
