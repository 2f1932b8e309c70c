#pragma once
// An integer label image on the results' grid and the names of its labels: what each region
// overlaps, for the region table.
#include <map>
#include <string>
#include <vector>

#include "report/volume.h"

struct Atlas {
  std::vector<long> labels;          // per voxel, 0 for none
  std::map<long, std::string> names; // from the labels file; a label without a name is its index

  std::string name(long label) const;
};

// Reads the label file text of `path`: one "index name" pair per line, separated by tabs or
// spaces; the name is the rest of the line, so it may hold spaces. Blank lines and lines
// starting with '#' are skipped.
std::string parseAtlasNames(const std::string &path, const std::string &text,
                            std::map<long, std::string> &names);

// Reads the atlas image `atlasPath` (and the label file `namesPath` unless empty). The atlas must
// lie on `grid`, the grid of the result image `gridPath`, and hold whole numbers only.
std::string loadAtlas(const std::string &atlasPath, const std::string &namesPath,
                      const Volume &grid, const std::string &gridPath, Atlas &atlas);

struct RegionAtlasLabels {
  std::string repLabel;  // name at the representative voxel, "" for label 0
  std::string topLabels; // up to three "name:percent" of the region's voxels, largest first
};

// Per region 1 .. regions of the consensus `roiLabels`; `representatives` are 0-based voxels.
std::vector<RegionAtlasLabels> regionAtlasLabels(const Atlas &atlas,
                                                 const std::vector<int> &roiLabels, int regions,
                                                 const std::vector<long> &representatives);
