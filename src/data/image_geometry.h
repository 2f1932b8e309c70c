#pragma once
// Geometry of result and prepared images taken from a source header, and the geometry of a grid
// coarsened by two on each axis.
#include <nifti1_io.h>

#include "data/img_io.h"

// The stored geometry of `header`: pixdim (qfac first), units, qform and sform, copied
// unchanged rather than recomputed so a written image overlays its source exactly.
ImageGeometry geometryOfHeader(const nifti_1_header &header);

// As geometryOfHeader, for an image already loaded by the NIfTI library.
ImageGeometry geometryOfImage(const nifti_image &image);

// Geometry after max-pooling by 2 on each axis: new voxel (i,j,k) covers old voxels 2i..2i+1,
// 2j..2j+1, 2k..2k+1, so its centre is the mean of their centres. With A the old voxel-to-world
// map, the new map is A' (v) = A (2 v + 0.5): voxel sizes double and the new origin is
// A (0.5, 0.5, 0.5). Both the sform and the qform (its offset) follow; the quaternion is kept.
ImageGeometry downsampledGeometry(const ImageGeometry &geometry);
