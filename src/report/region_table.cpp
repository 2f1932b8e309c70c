#include "report/region_table.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

std::string oneDecimal(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// Sums and extremes of one region, gathered in one pass over the label field.
struct RegionAccumulator {
  long voxels = 0;
  std::array<double, 3> sum{};
  std::array<double, 3> low{};
  std::array<double, 3> high{};
  double freqSum = 0;
  double freqMax = -std::numeric_limits<double>::infinity();

  void add(const std::array<double, 3> &mm, double frequency) {
    for (int a = 0; a < 3; ++a) {
      sum[a] += mm[a];
      low[a] = voxels == 0 ? mm[a] : std::min(low[a], mm[a]);
      high[a] = voxels == 0 ? mm[a] : std::max(high[a], mm[a]);
    }
    freqSum += frequency;
    freqMax = std::max(freqMax, frequency);
    ++voxels;
  }
};

void appendPoint(std::vector<std::string> &line, const std::array<double, 3> &mm) {
  for (const double c : mm)
    line.push_back(oneDecimal(c));
}

std::string csvCell(const std::string &cell) {
  if (cell.find_first_of(",\"\n\r") == std::string::npos)
    return cell;
  std::string quoted = "\"";
  for (const char c : cell)
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

} // namespace

std::vector<RegionRow> regionRows(const std::vector<int> &labels, int regions,
                                  const std::vector<long> &representatives, const Volume &frequency,
                                  const StudySummary *study) {
  std::vector<RegionAccumulator> sums(static_cast<std::size_t>(regions) + 1);
  long v = 0;
  for (int k = 0; k < frequency.z; ++k)
    for (int j = 0; j < frequency.y; ++j)
      for (int i = 0; i < frequency.x; ++i, ++v)
        if (labels[v] >= 1 && labels[v] <= regions)
          sums[labels[v]].add(frequency.world(i, j, k), frequency.values[v]);

  std::vector<RegionRow> rows;
  for (int r = 1; r <= regions; ++r) {
    const RegionAccumulator &s = sums[r];
    RegionRow row;
    row.region = r;
    row.voxels = s.voxels;
    row.volume = static_cast<double>(s.voxels) * frequency.voxelVolume();
    const long rep = representatives[r - 1];
    row.repId = rep + 1;
    row.rep = frequency.world(rep % frequency.x, (rep / frequency.x) % frequency.y,
                              rep / (static_cast<long>(frequency.x) * frequency.y));
    for (int a = 0; a < 3 && s.voxels > 0; ++a)
      row.centre[a] = s.sum[a] / static_cast<double>(s.voxels);
    row.low = s.low;
    row.high = s.high;
    row.freqMean = s.voxels > 0 ? s.freqSum / static_cast<double>(s.voxels) : 0.0;
    row.freqMax = s.voxels > 0 ? s.freqMax : 0.0;
    if (study != nullptr)
      row.split = study->regions[r - 1];
    rows.push_back(row);
  }
  return rows;
}

std::string countWithRate(long count, long total) {
  if (total == 0)
    return std::to_string(count) + " (-)";
  return std::to_string(count) + " (" + oneDecimal(100.0 * count / total) + "%)";
}

std::vector<std::vector<std::string>> regionCells(const std::vector<RegionRow> &rows,
                                                  bool withStudy, bool withRates,
                                                  const AppendedColumns &appended) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back({"region", "voxels", "volume_mm3", "rep_id", "rep_x", "rep_y", "rep_z", "com_x",
                   "com_y", "com_z", "min_x", "min_y", "min_z", "max_x", "max_y", "max_z",
                   "freq_mean", "freq_max"});
  if (withStudy)
    cells[0].insert(cells[0].end(), {"lesioned", "outcome1_lesioned", "spared", "outcome1_spared"});
  if (appended.pFwe)
    cells[0].push_back("p_fwe");
  if (appended.atlas)
    cells[0].insert(cells[0].end(), {"rep_label", "top_labels"});
  if (appended.pFweVolume)
    cells[0].push_back("p_fwe_volume");
  for (const RegionRow &row : rows) {
    std::vector<std::string> line = {std::to_string(row.region), std::to_string(row.voxels),
                                     oneDecimal(row.volume), std::to_string(row.repId)};
    appendPoint(line, row.rep);
    appendPoint(line, row.centre);
    appendPoint(line, row.low);
    appendPoint(line, row.high);
    line.push_back(oneDecimal(row.freqMean));
    line.push_back(oneDecimal(row.freqMax));
    if (row.voxels == 0) // no centre, box or frequency to give; blank rather than a false 0.0
      std::fill(line.begin() + 7, line.end(), std::string());
    if (withStudy) {
      const OutcomeSplit &s = row.split;
      line.push_back(std::to_string(s.lesioned));
      line.push_back(withRates ? countWithRate(s.outcome1Lesioned, s.lesioned)
                               : std::to_string(s.outcome1Lesioned));
      line.push_back(std::to_string(s.spared));
      line.push_back(withRates ? countWithRate(s.outcome1Spared, s.spared)
                               : std::to_string(s.outcome1Spared));
    }
    if (appended.pFwe)
      line.push_back(row.pFwe);
    if (appended.atlas)
      line.insert(line.end(), {row.repLabel, row.topLabels});
    if (appended.pFweVolume)
      line.push_back(row.pFweVolume);
    cells.push_back(line);
  }
  return cells;
}

std::string regionsCsv(const std::vector<std::vector<std::string>> &cells) {
  std::string text;
  for (const auto &line : cells) {
    for (std::size_t c = 0; c < line.size(); ++c)
      text += (c == 0 ? "" : ",") + csvCell(line[c]);
    text += "\n";
  }
  return text;
}

std::string alignedTable(const std::vector<std::vector<std::string>> &cells) {
  std::vector<std::size_t> width;
  for (const auto &line : cells) {
    width.resize(std::max(width.size(), line.size()), 0);
    for (std::size_t c = 0; c < line.size(); ++c)
      width[c] = std::max(width[c], line[c].size());
  }
  std::string text;
  for (const auto &line : cells) {
    for (std::size_t c = 0; c < line.size(); ++c)
      text += (c == 0 ? "" : "  ") + std::string(width[c] - line[c].size(), ' ') + line[c];
    text += "\n";
  }
  return text;
}
