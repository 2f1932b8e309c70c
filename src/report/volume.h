#pragma once
// A 3-D image read for display and measurement: its voxel values as doubles and the affine that
// takes voxel indices to millimetres.
#include <array>
#include <string>
#include <vector>

// Row-major 3 x 4: world = affine * (i, j, k, 1).
using Affine = std::array<std::array<double, 4>, 3>;

struct Volume {
  int x = 0;
  int y = 0;
  int z = 0;
  Affine affine{};
  std::vector<double> values; // x fastest

  long voxels() const { return static_cast<long>(x) * y * z; }
  std::array<double, 3> world(double i, double j, double k) const;
  // Volume of one voxel in mm^3: |det| of the affine's linear part.
  double voxelVolume() const;
  std::string sizeText() const; // "20 x 24 x 20"
  // Size and placement: "20 x 24 x 20 of 2 x 2 x 2 mm, voxel (0, 0, 0) at (90, -126, -72) mm".
  std::string gridText() const;
};

// Reads the first volume of the NIfTI-1 image `path` (.nii, .nii.gz or a .hdr/.img pair). The
// affine is the sform, or the qform when the sform code is 0 (the reading library derives the
// qform from the voxel sizes when neither is set). Integer and float data types are accepted.
// Returns an error naming the file, or an empty string.
std::string readVolume(const std::string &path, Volume &volume);
