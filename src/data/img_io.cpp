#include "data/img_io.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <nifti1_io.h>

#include "data/image_geometry.h"
#include "util/fatal.h"

// Voxel data are written as the caller holds them and must match the little-endian header.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "result images need byte-swapped voxel data on a big-endian host"
#endif

namespace {

constexpr int kHeaderBytes = 348;
constexpr int kSingleFileDataOffset = 352; // header + 4-byte extension flag
constexpr int kMaxExtent = 32767;          // dim[] entries are signed 16-bit

struct TypeName {
  const char *name;
  int code;
};

const TypeName kTypeNames[] = {
    {"UNKNOWN", 0},
    {"NIFTI_TYPE_UINT8", 2},
    {"NIFTI_TYPE_INT16", 4},
    {"NIFTI_TYPE_INT32", 8},
    {"NIFTI_TYPE_FLOAT32", 16},
    {"NIFTI_TYPE_COMPLEX64", 32},
    {"NIFTI_TYPE_FLOAT64", 64},
    {"NIFTI_TYPE_RGB24", 128},
    {"NIFTI_TYPE_INT8", 256},
    {"NIFTI_TYPE_UINT16", 512},
    {"NIFTI_TYPE_UINT32", 768},
    {"NIFTI_TYPE_INT64", 1024},
    {"NIFTI_TYPE_UINT64", 1280},
    {"NIFTI_TYPE_FLOAT128", 1536},
    {"NIFTI_TYPE_COMPLEX128", 1792},
    {"NIFTI_TYPE_COMPLEX256", 2048},
    {"NIFTI_TYPE_RGBA32", 2304},
};

// Bits per element of the writable types; 0 for every other code.
int writableBitpix(int code) {
  switch (code) {
  case 2:
    return 8;
  case 4:
    return 16;
  case 16:
    return 32;
  default:
    return 0;
  }
}

bool endsWith(const std::string &text, const char *suffix) {
  const std::size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

std::string formatted(const char *format, const char *name) {
  const int length = std::snprintf(nullptr, 0, format, name);
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(&text[0], text.size() + 1, format, name);
  return text;
}

// Little-endian field encoders, independent of the host's byte order.
void putInt16(unsigned char *header, int offset, int value) {
  const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
  header[offset] = static_cast<unsigned char>(v & 0xff);
  header[offset + 1] = static_cast<unsigned char>(v >> 8);
}

void putInt32(unsigned char *header, int offset, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int b = 0; b < 4; ++b)
    header[offset + b] = static_cast<unsigned char>((v >> (8 * b)) & 0xff);
}

void putFloat(unsigned char *header, int offset, float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  putInt32(header, offset, static_cast<std::int32_t>(bits));
}

void fillHeader(unsigned char *header, int code, int bitpix, int x, int y, int z,
                const ImageGeometry &g, bool singleFile) {
  std::memset(header, 0, kHeaderBytes);
  putInt32(header, 0, kHeaderBytes);
  putInt16(header, 40, 4);
  putInt16(header, 42, x);
  putInt16(header, 44, y);
  putInt16(header, 46, z);
  putInt16(header, 48, 1); // one volume, whatever the caller's fourth extent
  putInt16(header, 70, code);
  putInt16(header, 72, bitpix);
  for (int i = 0; i < 4; ++i)
    putFloat(header, 76 + 4 * i, g.pixdim[i]);
  putFloat(header, 92, 1.0f);
  putFloat(header, 108, singleFile ? static_cast<float>(kSingleFileDataOffset) : 0.0f);
  // Readers multiply stored values by scl_slope; 1 keeps labels and percentages as stored.
  putFloat(header, 112, 1.0f);
  putFloat(header, 116, 0.0f);
  header[123] = g.xyztUnits;
  putInt16(header, 252, g.qformCode);
  putInt16(header, 254, g.sformCode);
  putFloat(header, 256, g.quaternB);
  putFloat(header, 260, g.quaternC);
  putFloat(header, 264, g.quaternD);
  putFloat(header, 268, g.qoffsetX);
  putFloat(header, 272, g.qoffsetY);
  putFloat(header, 276, g.qoffsetZ);
  for (int i = 0; i < 4; ++i) {
    putFloat(header, 280 + 4 * i, g.srowX[i]);
    putFloat(header, 296 + 4 * i, g.srowY[i]);
    putFloat(header, 312 + 4 * i, g.srowZ[i]);
  }
  std::memcpy(header + 344, singleFile ? "n+1" : "ni1", 4); // includes the zero byte
}

struct FileCloser {
  void operator()(std::FILE *f) const {
    if (f != nullptr)
      std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Closes `file`, reporting a failed final flush as a failed write.
bool closeFile(File &file) {
  std::FILE *raw = file.release();
  return std::fclose(raw) == 0;
}

bool writeData(std::FILE *out, const void *data, std::size_t elementBytes, std::size_t elements) {
  return elements == 0 || std::fwrite(data, elementBytes, elements, out) == elements;
}

} // namespace

ImageGeometry defaultGeometry(float dx, float dy, float dz) {
  ImageGeometry g;
  g.pixdim[1] = dx;
  g.pixdim[2] = dy;
  g.pixdim[3] = dz;
  return g;
}

bool readImageGeometry(const std::string &path, int x, int y, int z, ImageGeometry &geometry) {
  int swapped = 0;
  nifti_1_header *header = nifti_read_header(path.c_str(), &swapped, 0);
  if (header == nullptr)
    return false;
  const nifti_1_header &h = *header;
  // Extents past dim[0] are 1, so a single-slice X x Y image matches a volume of X x Y x 1.
  const auto extent = [&h](int i) { return i <= h.dim[0] ? static_cast<int>(h.dim[i]) : 1; };
  const bool usable = NIFTI_VERSION(h) == 1 && h.dim[0] >= 1 && h.dim[0] <= 7 && extent(1) == x &&
                      extent(2) == y && extent(3) == z;
  if (usable)
    geometry = geometryOfHeader(h);
  std::free(header);
  return usable;
}

int niftiTypeCode(const std::string &typeName) {
  for (const TypeName &t : kTypeNames) {
    if (typeName == t.name)
      return t.code;
  }
  return -1;
}

bool writeNiftiImage(const char *headerName, const char *imageName, const void *data,
                     const char *typeName, int x, int y, int z, const ImageGeometry &geometry,
                     std::string &error) {
  const int code = niftiTypeCode(typeName);
  if (code <= 0) {
    error = "Unknown data format\n";
    return false;
  }
  const std::string header(headerName);
  const std::string image(imageName);
  if (header.size() <= 3 || image.size() <= 3) {
    error = "\nError: write files must end with .hdr/.img or .nii/.nii extension\n";
    return false;
  }
  bool singleFile = false;
  if (endsWith(header, ".hdr") && endsWith(image, ".img")) {
    singleFile = false;
  } else if (endsWith(header, ".nii") && endsWith(image, ".nii")) {
    singleFile = true;
  } else {
    error = "\nError: file(s) to be written must end with .hdr/.img or .nii/.nii extension\n";
    return false;
  }
  const int bitpix = writableBitpix(code);
  if (bitpix == 0) {
    error = "Unknown data format\n";
    return false;
  }
  if (x < 1 || y < 1 || z < 1 || x > kMaxExtent || y > kMaxExtent || z > kMaxExtent) {
    error = "\nError: extents " + std::to_string(x) + " x " + std::to_string(y) + " x " +
            std::to_string(z) + " of " + header + " do not fit a NIfTI-1 header (1 to " +
            std::to_string(kMaxExtent) + " each)\n";
    return false;
  }

  unsigned char bytes[kHeaderBytes];
  fillHeader(bytes, code, bitpix, x, y, z, geometry, singleFile);
  const std::size_t elements = static_cast<std::size_t>(x) * y * z;
  const std::size_t elementBytes = static_cast<std::size_t>(bitpix / 8);

  File out(std::fopen(headerName, "wb"));
  if (!out) {
    error = formatted("\nError opening header file %s for write\n", headerName);
    return false;
  }
  if (std::fwrite(bytes, 1, kHeaderBytes, out.get()) != kHeaderBytes) {
    error = formatted("\nError writing header file %s\n", headerName);
    return false;
  }
  if (singleFile) {
    const unsigned char extension[4] = {0, 0, 0, 0};
    if (std::fwrite(extension, 1, 4, out.get()) != 4) {
      error = formatted("\nError writing header file extension pad %s\n", headerName);
      return false;
    }
    if (!writeData(out.get(), data, elementBytes, elements) || !closeFile(out)) {
      error = formatted("\nError writing data to %s\n", headerName);
      return false;
    }
    return true;
  }
  if (!closeFile(out)) {
    error = formatted("\nError writing header file %s\n", headerName);
    return false;
  }
  File dataFile(std::fopen(imageName, "wb"));
  if (!dataFile) {
    error = formatted("\nError opening data file %s for write\n", imageName);
    return false;
  }
  if (!writeData(dataFile.get(), data, elementBytes, elements) || !closeFile(dataFile)) {
    error = formatted("\nError writing data to %s\n", imageName);
    return false;
  }
  return true;
}

void writeNiftiFile(const char *headerName, const char *imageName, const void *data,
                    const char *typeName, int x, int y, int z, int t,
                    const ImageGeometry &geometry) {
  (void)t;
  std::string error;
  if (!writeNiftiImage(headerName, imageName, data, typeName, x, y, z, geometry, error))
    torva::exitWithMessage(torva::kExitInputError, stderr, error);
}

void writeNiftiFile(const char *headerName, const char *imageName, const void *data,
                    const char *typeName, int x, int y, int z, int t, float dx, float dy,
                    float dz) {
  writeNiftiFile(headerName, imageName, data, typeName, x, y, z, t, defaultGeometry(dx, dy, dz));
}
