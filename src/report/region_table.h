#pragma once
// The region table: per consensus region its size, representative voxel, centre of mass and
// bounding box in millimetres, frequency statistics and, with the study, the outcome split.
#include <array>
#include <string>
#include <vector>

#include "report/study_summary.h"
#include "report/volume.h"

struct RegionRow {
  int region = 0;
  long voxels = 0;
  double volume = 0; // mm^3
  long repId = 0;    // 1-based voxel id
  std::array<double, 3> rep{};
  std::array<double, 3> centre{};
  std::array<double, 3> low{};
  std::array<double, 3> high{};
  double freqMean = 0;
  double freqMax = 0;
  OutcomeSplit split;     // only meaningful with a study
  std::string pFwe;       // from permutation.tsv
  std::string repLabel;   // atlas name at the representative voxel
  std::string topLabels;  // atlas labels the region overlaps most
  std::string pFweVolume; // from permutation.tsv, the lesion-size controlled test
};

// Columns appended after the existing ones, in this order: p_fwe, then rep_label and top_labels,
// then p_fwe_volume.
struct AppendedColumns {
  bool pFwe = false;
  bool atlas = false;
  bool pFweVolume = false;
};

// Rows for regions 1 .. regions: `labels` is the consensus label field on the grid of
// `frequency` (percent per voxel), `representatives` the 0-based voxel index of each region's
// representative. `study` may be null.
std::vector<RegionRow> regionRows(const std::vector<int> &labels, int regions,
                                  const std::vector<long> &representatives, const Volume &frequency,
                                  const StudySummary *study);

// The table as cells, header first: the column names are fixed because users' scripts read them.
// `withRates` writes each outcome-1 count with its percentage, for people rather than scripts.
std::vector<std::vector<std::string>> regionCells(const std::vector<RegionRow> &rows,
                                                  bool withStudy, bool withRates,
                                                  const AppendedColumns &appended = {});

// "regions.csv": the cells joined by commas, one line per row; a cell holding a comma or a quote
// (an atlas name can) is quoted, its quotes doubled.
std::string regionsCsv(const std::vector<std::vector<std::string>> &cells);

// The cells in right-aligned columns for the terminal.
std::string alignedTable(const std::vector<std::vector<std::string>> &cells);

// "7 (58.3%)": `count` of `total` with its percentage; "0 (-)" when total is 0.
std::string countWithRate(long count, long total);
