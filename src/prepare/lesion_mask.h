#pragma once
// Loading of one subject's lesion mask as a 0/1 volume: the checks on its header, the
// binarisation of any voxel type and the coarsening by two.
#include <cmath>
#include <string>
#include <vector>

#include <nifti1_io.h>

#include "data/img_io.h"

// What the header of a mask says about its grid.
struct MaskGrid {
  std::string path;
  int x = 0, y = 0, z = 0;
  float affine[3][4] = {}; // voxel to world: the sform when set, else the qform
};

// Reads only the header of `path` (compressed or not) into `grid`. Refuses an unreadable file,
// more than one volume and a voxel type that cannot be binarised.
std::string readMaskGrid(const std::string &path, MaskGrid &grid);

// Empty when `other` has the grid of `first`: the same extents, and affines that agree to
// within 1e-3 mm in every entry. Otherwise the message names both masks and both values.
std::string compareGrids(const MaskGrid &first, const MaskGrid &other);

struct BinaryMask {
  int x = 0, y = 0, z = 0;
  std::vector<unsigned char> voxels; // 0 or 1, x fastest
  ImageGeometry geometry;
  bool wasBinary = true; // every stored value (after scaling) was already 0 or 1
};

// Voxel rule: lesioned where value >= threshold, or where value > 0 when !hasThreshold. The
// stored scaling (scl_slope, scl_inter) is applied first; NaN counts as the value 0 (the NIfTI
// library already turns non-finite floats into 0 when it reads them).
struct LesionRule {
  bool hasThreshold = false;
  double threshold = 0.0;
  bool lesioned(double value) const {
    if (std::isnan(value))
      value = 0.0;
    return hasThreshold ? value >= threshold : value > 0.0;
  }
};

// Reads the mask at `path` with its data and binarises it by `rule`.
std::string loadBinaryMask(const std::string &path, const LesionRule &rule, BinaryMask &mask);

// Max-pooling by 2 on each axis: new voxel (i,j,k) is 1 when any of old voxels 2i..2i+1,
// 2j..2j+1, 2k..2k+1 is. An odd extent n gives (n+1)/2 voxels, the last one covering the single
// old voxel left. The geometry follows (see downsampledGeometry).
BinaryMask downsampledByTwo(const BinaryMask &mask);
