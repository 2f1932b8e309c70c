#include "report/volume.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <type_traits>

#include "data/nifti_reader.h"
#include "data/nifti_voxels.h"

namespace {

// The first `count` voxels as intensities (stored values scaled, as a template's are meant);
// false for a type that cannot be displayed (uint32, and any the visitor does not know).
bool convertValues(const nifti_image &image, long count, std::vector<double> &values) {
  const StoredScaling scaling = storedScaling(image);
  return visitStoredVoxels(image, count, [&](const auto *stored, long n) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(stored)>>;
    if constexpr (std::is_same_v<T, std::uint32_t>) {
      return false;
    } else {
      values.resize(static_cast<std::size_t>(n));
      for (long i = 0; i < n; ++i)
        values[i] = scaling(static_cast<double>(stored[i]));
      return true;
    }
  });
}

} // namespace

std::array<double, 3> Volume::world(double i, double j, double k) const {
  std::array<double, 3> mm{};
  for (int row = 0; row < 3; ++row)
    mm[row] = affine[row][0] * i + affine[row][1] * j + affine[row][2] * k + affine[row][3];
  return mm;
}

double Volume::voxelVolume() const {
  const Affine &a = affine;
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  return std::fabs(det);
}

std::string Volume::sizeText() const {
  return std::to_string(x) + " x " + std::to_string(y) + " x " + std::to_string(z);
}

std::string Volume::gridText() const {
  const auto number = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return std::string(text);
  };
  std::string size;
  for (int column = 0; column < 3; ++column) {
    const double length =
        std::sqrt(affine[0][column] * affine[0][column] + affine[1][column] * affine[1][column] +
                  affine[2][column] * affine[2][column]);
    size += (column == 0 ? "" : " x ") + number(length);
  }
  return sizeText() + " of " + size + " mm, voxel (0, 0, 0) at (" + number(affine[0][3]) + ", " +
         number(affine[1][3]) + ", " + number(affine[2][3]) + ") mm";
}

std::string readVolume(const std::string &path, Volume &volume) {
  volume = Volume{};
  if (is_nifti_file(path.c_str()) < 0)
    return path + " is missing, short, or not a NIfTI-1 or Analyze image\n";
  NiftiImagePtr image = readNiftiHeader(path);
  if (!image)
    return path + " cannot be read as a NIfTI-1 image" + compressedStreamProblem(path) + "\n";
  const std::string problem = loadNiftiData(*image, path);
  if (!problem.empty())
    return problem + "\n";
  volume.x = static_cast<int>(image->nx);
  volume.y = image->dim[0] >= 2 ? static_cast<int>(image->ny) : 1;
  volume.z = image->dim[0] >= 3 ? static_cast<int>(image->nz) : 1;
  if (volume.x < 1 || volume.y < 1 || volume.z < 1 ||
      static_cast<long>(image->nvox) < volume.voxels())
    return path + " holds no complete 3-D volume\n";
  if (!convertValues(*image, volume.voxels(), volume.values))
    return path + " has the data type " + nifti_datatype_string(image->datatype) +
           ", which cannot be displayed\n";
  const mat44 &m = image->sform_code > 0 ? image->sto_xyz : image->qto_xyz;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col)
      volume.affine[row][col] = m.m[row][col];
  return std::string();
}
