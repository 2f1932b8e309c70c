#pragma once
// Reading of NIfTI-1 and Analyze images, compressed or not, with a check that every data byte
// the header describes arrived. The library's own loader lets a short read through (it warns on
// standard error and hands back a partly filled buffer), which for a compressed file, whose
// length cannot be checked against its header, would pass a damaged mask as a valid one.
#include <memory>
#include <string>

#include <nifti1_io.h>

struct NiftiImageDeleter {
  void operator()(nifti_image *image) const { nifti_image_free(image); }
};
using NiftiImagePtr = std::unique_ptr<nifti_image, NiftiImageDeleter>;

// The header of `path` only (no voxel data); null when the library cannot read it.
NiftiImagePtr readNiftiHeader(const std::string &path);

// Reads the voxel data of `image`, whose header came from `path`, into image.data as the
// library would (byte order made native, non-finite floats set to 0). Returns "" or a message
// starting with `path`; a short read names the bytes needed and the bytes read.
std::string loadNiftiData(nifti_image &image, const std::string &path);

// For a compressed file whose header the library refused: " (its compressed data are truncated
// or damaged after N bytes)" when the stream itself fails (a small file's stream is checked
// whole when its header is read), else "".
std::string compressedStreamProblem(const std::string &path);

// Header and data together: "" and `image` set, or the message (`image` then null).
std::string readNiftiImage(const std::string &path, NiftiImagePtr &image);
