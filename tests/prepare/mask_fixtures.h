#pragma once
// Masks with a chosen type, grid and voxel-to-world map, written through the NIfTI library (a
// ".gz" name is written compressed), and a reader of prepared images.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nifti1_io.h>

#include "support/nifti_image.h"

namespace preparetest {

// Voxel-to-world map of a test mask: voxel size d on every axis, origin o (the centre of voxel
// 0,0,0), no rotation.
struct TestAffine {
  float d = 2.0f;
  float ox = -90.0f, oy = -126.0f, oz = -72.0f;
};

inline bool writeMask(const std::string &path, int datatype, int x, int y, int z,
                      const std::vector<double> &values, const TestAffine &a = TestAffine{},
                      int volumes = 1) {
  if (!testsupport::writeTestImage(path, datatype, x, y, z, values))
    return false;
  nifti_image *image = nifti_image_read(path.c_str(), 1);
  if (image == nullptr)
    return false;
  if (volumes > 1) {
    // Repeat the volume so the file holds `volumes` 3-D frames.
    const std::size_t bytes = image->nvox * image->nbyper;
    void *data = std::calloc(bytes * volumes, 1);
    for (int v = 0; v < volumes; ++v)
      std::memcpy(static_cast<char *>(data) + v * bytes, image->data, bytes);
    std::free(image->data);
    image->data = data;
    image->ndim = image->dim[0] = 4;
    image->nt = image->dim[4] = volumes;
    image->nvox *= volumes;
  }
  image->dx = image->pixdim[1] = a.d;
  image->dy = image->pixdim[2] = a.d;
  image->dz = image->pixdim[3] = a.d;
  image->xyz_units = NIFTI_UNITS_MM;
  image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
  image->sform_code = NIFTI_XFORM_MNI_152;
  image->quatern_b = image->quatern_c = image->quatern_d = 0.0f;
  image->qfac = 1.0f;
  image->qoffset_x = a.ox;
  image->qoffset_y = a.oy;
  image->qoffset_z = a.oz;
  image->qto_xyz = nifti_quatern_to_mat44(0, 0, 0, a.ox, a.oy, a.oz, a.d, a.d, a.d, 1.0f);
  image->sto_xyz = image->qto_xyz;
  nifti_image_write(image);
  nifti_image_free(image);
  return true;
}

struct ImageDeleter {
  void operator()(nifti_image *image) const { nifti_image_free(image); }
};
using Image = std::unique_ptr<nifti_image, ImageDeleter>;

inline Image readImage(const std::string &path) { return Image(nifti_image_read(path.c_str(), 1)); }

// The voxels of a uint8 or int16 image as integers.
inline std::vector<int> voxelsOf(const nifti_image &image) {
  std::vector<int> values(image.nvox);
  for (std::size_t i = 0; i < image.nvox; ++i)
    values[i] = image.datatype == DT_INT16 ? static_cast<const std::int16_t *>(image.data)[i]
                                           : static_cast<const std::uint8_t *>(image.data)[i];
  return values;
}

} // namespace preparetest
