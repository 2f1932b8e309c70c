#pragma once
// The stored voxels of a NIfTI-1 or Analyze image by their data type: the one dispatch the
// study reader, the report and prepare share, and the one scaling rule of the report and
// prepare. The study reader does not scale: a mask stored with a scale factor is refused there
// and made binary by torvacoreel-prepare.
#include <cmath>
#include <cstdint>

#include <nifti1_io.h>

// Whether visitStoredVoxels knows `datatype`: for a check on the header, before the data are
// read. Kept beside the dispatch so that the two lists agree.
inline bool isStoredVoxelType(int datatype) {
  switch (datatype) {
  case DT_UINT8:
  case DT_INT8:
  case DT_INT16:
  case DT_UINT16:
  case DT_INT32:
  case DT_UINT32:
  case DT_FLOAT32:
  case DT_FLOAT64:
    return true;
  default:
    return false;
  }
}

// Calls `visit(values, count)` once with the image's first `count` stored values as a typed
// array (`const T *`, T one of uint8, int8, int16, uint16, int32, uint32, float, double), so
// that each caller's loop is compiled per type. `visit` returns false for a type it does not
// take; false also for any other stored type.
template <class Visit> bool visitStoredVoxels(const nifti_image &image, long count, Visit &&visit) {
  const void *data = image.data;
  switch (image.datatype) {
  case DT_UINT8:
    return visit(static_cast<const std::uint8_t *>(data), count);
  case DT_INT8:
    return visit(static_cast<const std::int8_t *>(data), count);
  case DT_INT16:
    return visit(static_cast<const std::int16_t *>(data), count);
  case DT_UINT16:
    return visit(static_cast<const std::uint16_t *>(data), count);
  case DT_INT32:
    return visit(static_cast<const std::int32_t *>(data), count);
  case DT_UINT32:
    return visit(static_cast<const std::uint32_t *>(data), count);
  case DT_FLOAT32:
    return visit(static_cast<const float *>(data), count);
  case DT_FLOAT64:
    return visit(static_cast<const double *>(data), count);
  default:
    return false;
  }
}

// The intensity a stored value stands for: stored * scl_slope + scl_inter, computed in double.
// A slope of 0 (or one the library could not read as finite) means the values are stored
// unscaled, and so does the identity (1, 0), for which no arithmetic is done.
struct StoredScaling {
  double slope = 1;
  double inter = 0;
  bool identity = true;

  double operator()(double stored) const { return identity ? stored : stored * slope + inter; }
};

inline StoredScaling storedScaling(const nifti_image &image) {
  StoredScaling scaling;
  if (image.scl_slope == 0.0f || !std::isfinite(image.scl_slope) ||
      (image.scl_slope == 1.0f && image.scl_inter == 0.0f))
    return scaling;
  scaling.slope = image.scl_slope;
  scaling.inter = std::isfinite(image.scl_inter) ? image.scl_inter : 0.0;
  scaling.identity = false;
  return scaling;
}
