#pragma once
// What the report takes from the subjects: how many are lesioned at each voxel, and how the
// outcome splits between the subjects lesioned and spared at each representative voxel.
#include <string>
#include <vector>

#include "report/volume.h"

struct OutcomeSplit {
  long lesioned = 0;
  long outcome1Lesioned = 0;
  long spared = 0;
  long outcome1Spared = 0;
};

struct StudySummary {
  long subjects = 0;
  std::vector<int> overlap;          // lesioned subjects per voxel
  std::vector<OutcomeSplit> regions; // per representative voxel, in region order
  std::vector<long> ids;             // per subject, in list order
  std::vector<long> lesionVoxels;    // per subject: voxels in state 1
};

// Reads the file list `listPath` and every subject's map. The list's grid must be the one of the
// result image `gridPath` (`grid`); otherwise the error names both files and both sizes.
std::string loadStudySummary(const std::string &listPath, const Volume &grid,
                             const std::string &gridPath, const std::vector<long> &representatives,
                             StudySummary &summary);
