#include "data/image_geometry.h"

namespace {

// World position of voxel coordinates (i, j, k) under the three rows of an affine.
void applyRows(const float rows[3][4], double i, double j, double k, float out[3]) {
  for (int r = 0; r < 3; ++r)
    out[r] = static_cast<float>(rows[r][0] * i + rows[r][1] * j + rows[r][2] * k + rows[r][3]);
}

} // namespace

ImageGeometry geometryOfHeader(const nifti_1_header &h) {
  ImageGeometry geometry;
  for (int i = 0; i < 4; ++i)
    geometry.pixdim[i] = h.pixdim[i];
  geometry.xyztUnits = static_cast<unsigned char>(h.xyzt_units);
  geometry.qformCode = h.qform_code;
  geometry.sformCode = h.sform_code;
  geometry.quaternB = h.quatern_b;
  geometry.quaternC = h.quatern_c;
  geometry.quaternD = h.quatern_d;
  geometry.qoffsetX = h.qoffset_x;
  geometry.qoffsetY = h.qoffset_y;
  geometry.qoffsetZ = h.qoffset_z;
  for (int i = 0; i < 4; ++i) {
    geometry.srowX[i] = h.srow_x[i];
    geometry.srowY[i] = h.srow_y[i];
    geometry.srowZ[i] = h.srow_z[i];
  }
  return geometry;
}

ImageGeometry geometryOfImage(const nifti_image &image) {
  return geometryOfHeader(nifti_convert_nim2nhdr(&image));
}

ImageGeometry downsampledGeometry(const ImageGeometry &g) {
  ImageGeometry coarse = g;
  // A qfac of 0 is read as 1 by every reader; the qform's linear part needs the same choice.
  const float qfac = g.pixdim[0] < 0.0f ? -1.0f : 1.0f;
  const mat44 q = nifti_quatern_to_mat44(g.quaternB, g.quaternC, g.quaternD, g.qoffsetX, g.qoffsetY,
                                         g.qoffsetZ, g.pixdim[1], g.pixdim[2], g.pixdim[3], qfac);
  float qRows[3][4];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c)
      qRows[r][c] = q.m[r][c];
  float origin[3];
  applyRows(qRows, 0.5, 0.5, 0.5, origin);
  coarse.qoffsetX = origin[0];
  coarse.qoffsetY = origin[1];
  coarse.qoffsetZ = origin[2];
  for (int i = 1; i < 4; ++i)
    coarse.pixdim[i] = 2.0f * g.pixdim[i];

  const float sRows[3][4] = {{g.srowX[0], g.srowX[1], g.srowX[2], g.srowX[3]},
                             {g.srowY[0], g.srowY[1], g.srowY[2], g.srowY[3]},
                             {g.srowZ[0], g.srowZ[1], g.srowZ[2], g.srowZ[3]}};
  applyRows(sRows, 0.5, 0.5, 0.5, origin);
  float *coarseRows[3] = {coarse.srowX, coarse.srowY, coarse.srowZ};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      coarseRows[r][c] = 2.0f * sRows[r][c];
    coarseRows[r][3] = origin[r];
  }
  return coarse;
}
