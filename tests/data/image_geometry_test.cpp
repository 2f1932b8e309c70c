#include "data/image_geometry.h"

#include <gtest/gtest.h>

namespace {

// Geometry whose qform and sform both hold `m` (voxel sizes from its columns).
ImageGeometry geometryOfAffine(const mat44 &m) {
  ImageGeometry g;
  float qb, qc, qd, qx, qy, qz, dx, dy, dz, qfac;
  nifti_mat44_to_quatern(m, &qb, &qc, &qd, &qx, &qy, &qz, &dx, &dy, &dz, &qfac);
  g.pixdim[0] = qfac;
  g.pixdim[1] = dx;
  g.pixdim[2] = dy;
  g.pixdim[3] = dz;
  g.quaternB = qb;
  g.quaternC = qc;
  g.quaternD = qd;
  g.qoffsetX = qx;
  g.qoffsetY = qy;
  g.qoffsetZ = qz;
  g.qformCode = g.sformCode = 4;
  for (int c = 0; c < 4; ++c) {
    g.srowX[c] = m.m[0][c];
    g.srowY[c] = m.m[1][c];
    g.srowZ[c] = m.m[2][c];
  }
  return g;
}

mat44 qformOf(const ImageGeometry &g) {
  return nifti_quatern_to_mat44(g.quaternB, g.quaternC, g.quaternD, g.qoffsetX, g.qoffsetY,
                                g.qoffsetZ, g.pixdim[1], g.pixdim[2], g.pixdim[3], g.pixdim[0]);
}

// 2 mm voxels, origin (-90, -126, -72): the first 4 mm voxel covers old voxels 0 and 1 on each
// axis, so its centre is (-89, -125, -71).
TEST(DownsampledGeometry, VoxelSizeDoublesAndTheFirstCentreIsTheMeanOfTheOldOnes) {
  mat44 m = nifti_quatern_to_mat44(0, 0, 0, -90, -126, -72, 2, 2, 2, 1);
  const ImageGeometry coarse = downsampledGeometry(geometryOfAffine(m));
  EXPECT_FLOAT_EQ(coarse.pixdim[1], 4.0f);
  EXPECT_FLOAT_EQ(coarse.pixdim[3], 4.0f);
  EXPECT_FLOAT_EQ(coarse.srowX[0], 4.0f);
  EXPECT_FLOAT_EQ(coarse.srowX[3], -89.0f);
  EXPECT_FLOAT_EQ(coarse.srowY[3], -125.0f);
  EXPECT_FLOAT_EQ(coarse.srowZ[3], -71.0f);
  EXPECT_FLOAT_EQ(coarse.qoffsetX, -89.0f);
  EXPECT_FLOAT_EQ(coarse.qoffsetY, -125.0f);
  EXPECT_FLOAT_EQ(coarse.qoffsetZ, -71.0f);
  EXPECT_EQ(coarse.sformCode, 4);
}

// A flipped x axis (qfac handling) and a rotation about z: qform and sform still describe the
// same coarse grid, and old voxel (3, 5, 7) lies in new voxel (1.25, 2.25, 3.25) = ((v-0.5)/2).
TEST(DownsampledGeometry, QformAndSformAgreeForRotatedAndFlippedAffines) {
  const float c = std::cos(0.3f), s = std::sin(0.3f);
  mat44 m;
  const float rows[4][4] = {{-1.0f * c, -1.5f * s, 0, 91},
                            {-1.0f * s, 1.5f * c, 0, -120},
                            {0, 0, 2.5f, -60},
                            {0, 0, 0, 1}};
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < 4; ++k)
      m.m[r][k] = rows[r][k];
  const ImageGeometry coarse = downsampledGeometry(geometryOfAffine(m));
  const mat44 q = qformOf(coarse);
  const float sform[3][4] = {{coarse.srowX[0], coarse.srowX[1], coarse.srowX[2], coarse.srowX[3]},
                             {coarse.srowY[0], coarse.srowY[1], coarse.srowY[2], coarse.srowY[3]},
                             {coarse.srowZ[0], coarse.srowZ[1], coarse.srowZ[2], coarse.srowZ[3]}};
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(q.m[r][k], sform[r][k], 1e-4) << r << "," << k;
    const double old = m.m[r][0] * 3 + m.m[r][1] * 5 + m.m[r][2] * 7 + m.m[r][3];
    const double coarseWorld =
        sform[r][0] * 1.25 + sform[r][1] * 2.25 + sform[r][2] * 3.25 + sform[r][3];
    EXPECT_NEAR(coarseWorld, old, 1e-4) << r;
  }
  EXPECT_FLOAT_EQ(coarse.pixdim[1], 2.0f);
  EXPECT_FLOAT_EQ(coarse.pixdim[2], 3.0f);
  EXPECT_FLOAT_EQ(coarse.pixdim[3], 5.0f);
}

} // namespace
