#pragma once
// Writing of result volumes as NIfTI-1 images (a ".nii" single file or a ".hdr"/".img" pair).
// The 348-byte header is built here byte by byte, little-endian, so the output does not depend
// on the reading library's defaults.
#include <string>

// Spatial header fields of a result image. Result maps are overlaid on the template the subjects
// were registered to, so they carry the subjects' stored geometry when it is known.
struct ImageGeometry {
  float pixdim[4] = {0.0f, 1.0f, 1.0f, 1.0f}; // pixdim[0] is qfac
  unsigned char xyztUnits = 10;               // millimetres and seconds
  short qformCode = 0;
  short sformCode = 0;
  float quaternB = 0.0f;
  float quaternC = 0.0f;
  float quaternD = 0.0f;
  float qoffsetX = 0.0f;
  float qoffsetY = 0.0f;
  float qoffsetZ = 0.0f;
  float srowX[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  float srowY[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  float srowZ[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Default geometry: no orientation, voxel sizes dx, dy, dz, millimetres and seconds.
ImageGeometry defaultGeometry(float dx, float dy, float dz);

// Reads the stored geometry of the image `path` when it is a NIfTI-1 image (single file or
// pair, not a plain Analyze 7.5 header) whose first three extents are x, y, z: the header
// values are copied unchanged, not recomputed. Returns false, leaving `geometry` untouched,
// otherwise (unreadable header included).
bool readImageGeometry(const std::string &path, int x, int y, int z, ImageGeometry &geometry);

// NIfTI-1 datatype code of `typeName` ("UNKNOWN" is 0, "NIFTI_TYPE_UINT8" 2, ...), or -1 when
// the name is not one of the seventeen known names.
int niftiTypeCode(const std::string &typeName);

// Writes x*y*z elements of `data` (x fastest) as one volume of type `typeName`; only
// "NIFTI_TYPE_UINT8", "NIFTI_TYPE_INT16" and "NIFTI_TYPE_FLOAT32" can be written. Header and
// image names are a ".hdr"/".img" pair or the same ".nii" name twice. `t` is ignored: every
// result is a single volume. On failure `error` holds the message and nothing more is written.
bool writeNiftiImage(const char *headerName, const char *imageName, const void *data,
                     const char *typeName, int x, int y, int z, const ImageGeometry &geometry,
                     std::string &error);

// As writeNiftiImage, but a failure is printed on standard error and ends the process with
// status 1.
void writeNiftiFile(const char *headerName, const char *imageName, const void *data,
                    const char *typeName, int x, int y, int z, int t, float dx, float dy, float dz);
void writeNiftiFile(const char *headerName, const char *imageName, const void *data,
                    const char *typeName, int x, int y, int z, int t,
                    const ImageGeometry &geometry);
