#include "report/atlas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "report/svg_text.h"
#include "results/result_files.h"
#include "util/whole_number.h"

namespace {

constexpr std::size_t kTopLabels = 3;

const char *const kBlanks = " \t\r";

// Grids agree when their sizes match and their affines differ by less than this many mm.
constexpr double kPlacementTolerance = 1e-3;

bool sameGrid(const Volume &a, const Volume &b) {
  if (a.x != b.x || a.y != b.y || a.z != b.z)
    return false;
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 4; ++column)
      if (!(std::fabs(a.affine[row][column] - b.affine[row][column]) <= kPlacementTolerance))
        return false;
  return true;
}

std::string numberText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string firstNonInteger(const std::string &path, const Volume &atlas, Atlas &into) {
  into.labels.assign(atlas.values.size(), 0);
  for (std::size_t v = 0; v < atlas.values.size(); ++v) {
    const double value = atlas.values[v];
    if (!std::isfinite(value) || value != std::floor(value) || std::fabs(value) > 2e9) {
      const long i = static_cast<long>(v) % atlas.x;
      const long j = static_cast<long>(v) / atlas.x % atlas.y;
      const long k = static_cast<long>(v) / (static_cast<long>(atlas.x) * atlas.y);
      return "atlas " + path + " holds " + numberText(value) + " at voxel (" + std::to_string(i) +
             ", " + std::to_string(j) + ", " + std::to_string(k) +
             "); an atlas holds whole-number labels only\n";
    }
    into.labels[v] = static_cast<long>(value);
  }
  return std::string();
}

} // namespace

std::string Atlas::name(long label) const {
  const auto found = names.find(label);
  return found == names.end() ? std::to_string(label) : found->second;
}

std::string parseAtlasNames(const std::string &path, const std::string &text,
                            std::map<long, std::string> &names) {
  names.clear();
  std::istringstream in(text);
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    const std::size_t begin = line.find_first_not_of(kBlanks);
    if (begin == std::string::npos || line[begin] == '#')
      continue;
    const std::size_t indexEnd = std::min(line.find_first_of(kBlanks, begin), line.size());
    const std::string index = line.substr(begin, indexEnd - begin);
    const std::size_t nameBegin = line.find_first_not_of(kBlanks, indexEnd);
    const std::string where = path + " line " + std::to_string(number) + ": ";
    long label = 0;
    if (!wholeNumberOf(index, label))
      return where + "the index \"" + index + "\" is not a whole number\n";
    if (nameBegin == std::string::npos)
      return where + "label " + index + " has no name\n";
    const std::size_t nameEnd = line.find_last_not_of(kBlanks);
    if (!names.emplace(label, line.substr(nameBegin, nameEnd + 1 - nameBegin)).second)
      return where + "label " + index + " is named twice\n";
  }
  return std::string();
}

std::string loadAtlas(const std::string &atlasPath, const std::string &namesPath,
                      const Volume &grid, const std::string &gridPath, Atlas &atlas) {
  atlas = Atlas{};
  Volume image;
  std::string error = readVolume(atlasPath, image);
  if (!error.empty())
    return error;
  if (!sameGrid(image, grid))
    return "atlas " + atlasPath + " lies on the grid " + image.gridText() +
           ", but the result image " + gridPath + " lies on " + grid.gridText() + "\n";
  if (!(error = firstNonInteger(atlasPath, image, atlas)).empty())
    return error;
  if (namesPath.empty())
    return std::string();
  std::string text;
  if (!(error = readResultText(namesPath, text)).empty())
    return "atlas labels file " + error;
  return parseAtlasNames(namesPath, text, atlas.names);
}

std::vector<RegionAtlasLabels> regionAtlasLabels(const Atlas &atlas,
                                                 const std::vector<int> &roiLabels, int regions,
                                                 const std::vector<long> &representatives) {
  std::vector<std::map<long, long>> counts(static_cast<std::size_t>(regions) + 1);
  std::vector<long> voxels(static_cast<std::size_t>(regions) + 1, 0);
  for (std::size_t v = 0; v < roiLabels.size(); ++v)
    if (roiLabels[v] >= 1 && roiLabels[v] <= regions) {
      ++voxels[roiLabels[v]];
      if (atlas.labels[v] != 0)
        ++counts[roiLabels[v]][atlas.labels[v]];
    }
  std::vector<RegionAtlasLabels> out;
  for (int r = 1; r <= regions; ++r) {
    RegionAtlasLabels labels;
    const long atRep = atlas.labels[representatives[r - 1]];
    if (atRep != 0)
      labels.repLabel = atlas.name(atRep);
    std::vector<std::pair<long, long>> shares(counts[r].begin(), counts[r].end());
    // Largest share first; equal shares by label index, as the map holds them.
    std::stable_sort(shares.begin(), shares.end(),
                     [](const auto &a, const auto &b) { return a.second > b.second; });
    for (std::size_t n = 0; n < shares.size() && n < kTopLabels; ++n)
      labels.topLabels +=
          (n == 0 ? "" : ";") + atlas.name(shares[n].first) + ":" +
          fixedText(100.0 * static_cast<double>(shares[n].second) / static_cast<double>(voxels[r]),
                    1);
    out.push_back(labels);
  }
  return out;
}
