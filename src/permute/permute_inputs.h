#pragma once
// What torvacoreel-permute reads from a finished run's folder, checked against the study.
#include <string>
#include <vector>

#include "data/img_io.h"

struct DecodedStudy;

struct RunRegions {
  std::vector<int> representatives; // R-SET as 1-based voxel ids, in region order
  std::vector<int> labels;          // consensus label of every voxel
  ImageGeometry geometry;           // of the result images
};

// Reads log.el.torva and roi.el.torva of `dir` (and the geometry of label_field_torvael.nii when
// it is there). Returns "" or a message naming the file and the values: a missing or short file,
// an R-SET id outside the volume, a region count or a grid other than the study's, or
// representative states other than the study's.
std::string readRunRegions(const std::string &dir, const DecodedStudy &study, RunRegions &run);
