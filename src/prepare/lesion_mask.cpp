#include "prepare/lesion_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "data/image_geometry.h"
#include "data/nifti_reader.h"
#include "data/nifti_voxels.h"
#include "prepare/numbers.h"
#include "util/file_checks.h"

namespace {

constexpr double kAffineTolerance = 1e-3; // mm

std::string checkedHeader(const std::string &path, const nifti_image *image) {
  if (image == nullptr)
    return "mask " + path + " cannot be read as a NIfTI-1 or Analyze image" +
           compressedStreamProblem(path);
  // Extents past the third, up to dim[0], count the volumes; the library leaves unused ones 0.
  long volumes = 1;
  for (int i = 4; i <= image->dim[0] && i <= 7; ++i)
    volumes *= std::max(1, image->dim[i]);
  if (volumes > 1)
    return "mask " + path + " holds " + std::to_string(volumes) +
           " volumes; a mask must be a single 3-D volume";
  if (!isStoredVoxelType(image->datatype))
    return "mask " + path + " has the voxel type " + nifti_datatype_string(image->datatype) +
           "; masks must be of an integer or a real type";
  // Checked on the header, before anything of that size is allocated: the stored values, the
  // 0/1 copy and the overlap counts.
  const std::uint64_t bytesPerVoxel = static_cast<std::uint64_t>(std::max(0, image->nbyper)) + 3;
  return torva::memoryNeedProblem(torva::saturatingProduct(image->nvox, bytesPerVoxel),
                                  "mask " + path + " of " + std::to_string(image->nx) + " x " +
                                      std::to_string(image->ny) + " x " +
                                      std::to_string(image->nz) + " voxels");
}

template <typename T>
bool binarise(const T *values, long count, const StoredScaling &scaling, const LesionRule &rule,
              unsigned char *out) {
  bool binary = true;
  for (long i = 0; i < count; ++i) {
    const double value = scaling(static_cast<double>(values[i]));
    binary = binary && (value == 0.0 || value == 1.0);
    out[i] = rule.lesioned(value) ? 1 : 0;
  }
  return binary;
}

// Binarises every voxel of `image` (of a type the header check accepted) by its scaled value;
// returns whether all values were 0 or 1.
bool binariseImage(const nifti_image &image, const LesionRule &rule, unsigned char *out) {
  const StoredScaling scaling = storedScaling(image);
  bool binary = true;
  visitStoredVoxels(image, static_cast<long>(image.nvox), [&](const auto *values, long count) {
    binary = binarise(values, count, scaling, rule, out);
    return true;
  });
  return binary;
}

std::string affineText(const float a[3][4]) {
  std::string text = "[";
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      text += numberText(a[r][c]);
      text += c < 3 ? " " : (r < 2 ? "; " : "]");
    }
  }
  return text;
}

std::string extentText(const MaskGrid &g) {
  return std::to_string(g.x) + " x " + std::to_string(g.y) + " x " + std::to_string(g.z);
}

} // namespace

std::string readMaskGrid(const std::string &path, MaskGrid &grid) {
  const NiftiImagePtr image = readNiftiHeader(path);
  std::string problem = checkedHeader(path, image.get());
  if (!problem.empty())
    return problem;
  grid.path = path;
  grid.x = image->nx;
  grid.y = image->ny;
  grid.z = image->nz;
  const mat44 &m = image->sform_code > 0 ? image->sto_xyz : image->qto_xyz;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c)
      grid.affine[r][c] = m.m[r][c];
  return {};
}

std::string compareGrids(const MaskGrid &first, const MaskGrid &other) {
  if (first.x != other.x || first.y != other.y || first.z != other.z)
    return "mask " + other.path + " has the grid " + extentText(other) + "; the first mask " +
           first.path + " has " + extentText(first);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c)
      if (std::fabs(first.affine[r][c] - other.affine[r][c]) > kAffineTolerance)
        return "mask " + other.path + " has the voxel-to-world affine " + affineText(other.affine) +
               "; the first mask " + first.path + " has " + affineText(first.affine) +
               " (they must agree to 0.001 mm)";
  return {};
}

std::string loadBinaryMask(const std::string &path, const LesionRule &rule, BinaryMask &mask) {
  const NiftiImagePtr image = readNiftiHeader(path);
  std::string problem = checkedHeader(path, image.get());
  if (!problem.empty())
    return problem;
  problem = loadNiftiData(*image, path);
  if (!problem.empty())
    return "mask " + problem;
  mask.x = image->nx;
  mask.y = image->ny;
  mask.z = image->nz;
  mask.voxels.assign(image->nvox, 0);
  mask.wasBinary = binariseImage(*image, rule, mask.voxels.data());
  mask.geometry = geometryOfImage(*image);
  return {};
}

BinaryMask downsampledByTwo(const BinaryMask &mask) {
  BinaryMask coarse;
  coarse.x = (mask.x + 1) / 2;
  coarse.y = (mask.y + 1) / 2;
  coarse.z = (mask.z + 1) / 2;
  coarse.wasBinary = mask.wasBinary;
  coarse.geometry = downsampledGeometry(mask.geometry);
  coarse.voxels.assign(static_cast<std::size_t>(coarse.x) * coarse.y * coarse.z, 0);
  for (int k = 0; k < mask.z; ++k)
    for (int j = 0; j < mask.y; ++j)
      for (int i = 0; i < mask.x; ++i) {
        const std::size_t from = i + static_cast<std::size_t>(mask.x) * (j + mask.y * k);
        const std::size_t to = i / 2 + static_cast<std::size_t>(coarse.x) *
                                           (j / 2 + static_cast<std::size_t>(coarse.y) * (k / 2));
        coarse.voxels[to] |= mask.voxels[from];
      }
  return coarse;
}
