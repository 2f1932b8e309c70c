#pragma once
// Writes small test images through the NIfTI library, in any data type and either file form,
// and reads float32 result maps back.
#include <cstdint>
#include <string>
#include <vector>

#include <nifti1_io.h>

namespace testsupport {

// Writes `values` (x fastest) as an image of extents x, y, z and NIfTI type `datatype` to
// `path` (".nii", or ".hdr" for a header/image pair). Returns false when the library fails.
inline bool writeTestImage(const std::string &path, int datatype, int x, int y, int z,
                           const std::vector<double> &values) {
  int dims[8] = {3, x, y, z, 1, 1, 1, 1};
  nifti_image *image = nifti_make_new_nim(dims, datatype, 1);
  if (image == nullptr)
    return false;
  for (std::size_t i = 0; i < values.size() && i < image->nvox; ++i) {
    switch (datatype) {
    case DT_UINT8:
      static_cast<std::uint8_t *>(image->data)[i] = static_cast<std::uint8_t>(values[i]);
      break;
    case DT_INT8:
      static_cast<std::int8_t *>(image->data)[i] = static_cast<std::int8_t>(values[i]);
      break;
    case DT_INT16:
      static_cast<std::int16_t *>(image->data)[i] = static_cast<std::int16_t>(values[i]);
      break;
    case DT_UINT16:
      static_cast<std::uint16_t *>(image->data)[i] = static_cast<std::uint16_t>(values[i]);
      break;
    case DT_INT32:
      static_cast<std::int32_t *>(image->data)[i] = static_cast<std::int32_t>(values[i]);
      break;
    case DT_FLOAT32:
      static_cast<float *>(image->data)[i] = static_cast<float>(values[i]);
      break;
    case DT_FLOAT64:
      static_cast<double *>(image->data)[i] = values[i];
      break;
    default:
      nifti_image_free(image);
      return false;
    }
  }
  const bool named = nifti_set_filenames(image, path.c_str(), 0, 1) == 0;
  if (named)
    nifti_image_write(image);
  nifti_image_free(image);
  return named;
}

// The voxels of the float32 image at `path`, x fastest; empty when it cannot be read or holds
// another type.
inline std::vector<float> readFloatImage(const std::string &path) {
  nifti_image *image = nifti_image_read(path.c_str(), 1);
  if (image == nullptr)
    return {};
  std::vector<float> values;
  if (image->datatype == DT_FLOAT32 && image->data != nullptr) {
    const float *data = static_cast<const float *>(image->data);
    values.assign(data, data + image->nvox);
  }
  nifti_image_free(image);
  return values;
}

} // namespace testsupport
