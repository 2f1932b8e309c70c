#include "data/nifti_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <znzlib.h>

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 24; // gzread takes an unsigned int length
// Deflate stores at most 1032 bytes in one compressed byte; a claim beyond that is false.
constexpr std::uint64_t kMaxInflation = 1032;

struct ZnzCloser {
  void operator()(znzptr *file) const { Xznzclose(&file); }
};
using ZnzFile = std::unique_ptr<znzptr, ZnzCloser>;

// Bytes read into `buffer` before the stream ended or failed. A damaged compressed stream
// reports an error, which counts as its end.
std::size_t readAll(znzFile file, unsigned char *buffer, std::size_t bytes) {
  std::size_t got = 0;
  while (got < bytes) {
    const std::size_t want = std::min(kChunk, bytes - got);
    const std::size_t n = znzread(buffer + got, 1, want, file);
    if (n > want) // (size_t)-1: the stream failed
      break;
    got += n;
    if (n < want)
      break;
  }
  return got;
}

// After the data, a compressed stream must end cleanly: its trailer carries the check sum that
// tells a damaged stream from an intact one. Trailing bytes (padding) are allowed.
bool compressedTrailerIsIntact(znzFile file) {
  unsigned char extra = 0;
  const std::size_t n = znzread(&extra, 1, 1, file);
  return n <= 1;
}

template <typename T> void zeroNonFinite(void *data, std::size_t count) {
  T *values = static_cast<T *>(data);
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i]))
      values[i] = T(0);
}

// As the library's reader: swap to the machine's byte order, then replace non-finite floats.
void makeNative(nifti_image &image, std::size_t bytes) {
  if (image.swapsize > 1 && image.byteorder != nifti_short_order())
    nifti_swap_Nbytes(bytes / static_cast<std::size_t>(image.swapsize), image.swapsize, image.data);
  switch (image.datatype) {
  case NIFTI_TYPE_FLOAT32:
  case NIFTI_TYPE_COMPLEX64:
    zeroNonFinite<float>(image.data, bytes / sizeof(float));
    break;
  case NIFTI_TYPE_FLOAT64:
  case NIFTI_TYPE_COMPLEX128:
    zeroNonFinite<double>(image.data, bytes / sizeof(double));
    break;
  default:
    break;
  }
}

std::string shortReadMessage(const std::string &path, const std::string &dataPath,
                             std::size_t needed, std::size_t got, bool compressed) {
  std::string text = path + ": the voxel data end early: " + std::to_string(needed) +
                     " bytes needed, " + std::to_string(got) + " read";
  if (dataPath != path)
    text += " from " + dataPath;
  text +=
      compressed ? " (the compressed data are truncated or damaged)" : " (the file is truncated)";
  return text;
}

} // namespace

std::string compressedStreamProblem(const std::string &path) {
  if (nifti_is_gzfile(path.c_str()) == 0)
    return {};
  ZnzFile file(znzopen(path.c_str(), "rb", 1));
  if (!file)
    return {};
  std::vector<unsigned char> buffer(1 << 16);
  std::size_t total = 0;
  for (;;) {
    const std::size_t n = znzread(buffer.data(), 1, buffer.size(), file.get());
    if (n > buffer.size())
      return " (its compressed data are truncated or damaged after " + std::to_string(total) +
             " bytes)";
    total += n;
    if (n < buffer.size())
      return {};
  }
}

NiftiImagePtr readNiftiHeader(const std::string &path) {
  return NiftiImagePtr(nifti_image_read(path.c_str(), 0));
}

std::string loadNiftiData(nifti_image &image, const std::string &path) {
  const std::string dataPath = image.iname != nullptr ? image.iname : path;
  const bool compressed = nifti_is_gzfile(dataPath.c_str()) != 0;
  const std::size_t needed = nifti_get_volsize(&image);
  ZnzFile file(znzopen(dataPath.c_str(), "rb", compressed ? 1 : 0));
  if (!file)
    return path + ": its data file " + dataPath + " cannot be opened: " + std::strerror(errno);
  long offset = image.iname_offset;
  if (offset < 0) { // data at the end of an uncompressed file
    if (compressed || znzseek(file.get(), 0, SEEK_END) < 0)
      return path + ": the header gives no data offset";
    offset = std::max(0L, static_cast<long>(znztell(file.get())) - static_cast<long>(needed));
  }
  // fseek gives 0 on success, gzseek the new offset; both give -1 on failure.
  if (znzseek(file.get(), offset, SEEK_SET) < 0)
    return shortReadMessage(path, dataPath, needed, 0, compressed);
  // Before the buffer is allocated: a header may claim more than its file can hold.
  struct stat info {};
  if (::stat(dataPath.c_str(), &info) == 0) {
    const auto fileBytes = static_cast<std::uint64_t>(info.st_size);
    if (!compressed && static_cast<std::uint64_t>(offset) + needed > fileBytes)
      return shortReadMessage(
          path, dataPath, needed,
          static_cast<std::size_t>(
              fileBytes > static_cast<std::uint64_t>(offset) ? fileBytes - offset : 0),
          compressed);
    if (compressed && needed > fileBytes * kMaxInflation + 1024)
      return path + ": the voxel data cannot all be there: " + std::to_string(needed) +
             " bytes needed, but the compressed file " + dataPath + " of " +
             std::to_string(fileBytes) + " bytes decompresses to at most " +
             std::to_string(fileBytes * kMaxInflation + 1024);
  }
  free(image.data);
  image.data = std::malloc(needed == 0 ? 1 : needed);
  if (image.data == nullptr)
    return path + ": no memory for its " + std::to_string(needed) + " bytes of voxel data";
  const std::size_t got = readAll(file.get(), static_cast<unsigned char *>(image.data), needed);
  std::string problem;
  if (got < needed)
    problem = shortReadMessage(path, dataPath, needed, got, compressed);
  else if (compressed && !compressedTrailerIsIntact(file.get()))
    problem = path + ": the compressed data are damaged: all " + std::to_string(needed) +
              " bytes needed were read, but the stream's check at its end fails";
  if (!problem.empty()) {
    free(image.data);
    image.data = nullptr;
    return problem;
  }
  makeNative(image, needed);
  return {};
}

std::string readNiftiImage(const std::string &path, NiftiImagePtr &image) {
  image = readNiftiHeader(path);
  if (!image)
    return path + " cannot be read as a NIfTI-1 or Analyze image" + compressedStreamProblem(path);
  std::string problem = loadNiftiData(*image, path);
  if (!problem.empty())
    image.reset();
  return problem;
}
