// The mask reader of torvacoreel-prepare on compressed files: the input, compressed and cut at
// a point the first byte picks (or kept as the compressed bytes themselves), is refused with a
// message naming the mask, or read into a 0/1 volume of the size its header gives.
#include <cstddef>
#include <cstdint>
#include <string>

#include <zlib.h>

#include "fuzz_support.h"
#include "prepare/lesion_mask.h"

using fuzzsupport::expect;

namespace {

// `bytes` compressed, then cut to `share`/255 of the compressed length (255: whole).
std::string compressedAndCut(const std::uint8_t *bytes, std::size_t size, unsigned share) {
  uLongf length = compressBound(size) + 32;
  std::string out(length, '\0');
  z_stream stream{};
  expect(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK,
         "deflateInit2");
  stream.next_in = const_cast<Bytef *>(bytes);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<Bytef *>(&out[0]);
  stream.avail_out = static_cast<uInt>(length);
  expect(deflate(&stream, Z_FINISH) == Z_STREAM_END, "deflate");
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out.substr(0, out.size() * share / 255);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2 || size > 65536)
    return 0;
  const std::string path = fuzzsupport::scratchFolder() + "/mask.nii.gz";
  if (data[0] == 0) {
    fuzzsupport::writeWholeFile(path, data + 1, size - 1);
  } else {
    const std::string gz = compressedAndCut(data + 1, size - 1, data[0]);
    fuzzsupport::writeWholeFile(path, reinterpret_cast<const std::uint8_t *>(gz.data()), gz.size());
  }
  MaskGrid grid;
  std::string problem = readMaskGrid(path, grid);
  if (!problem.empty()) {
    expect(problem.find(path) != std::string::npos, "the refusal names the mask");
    return 0;
  }
  BinaryMask mask;
  problem = loadBinaryMask(path, LesionRule{}, mask);
  if (!problem.empty()) {
    expect(problem.find(path) != std::string::npos, "the refusal names the mask");
    return 0;
  }
  expect(mask.x == grid.x && mask.y == grid.y && mask.z == grid.z, "the grid of the header");
  for (const unsigned char v : mask.voxels)
    expect(v <= 1, "voxels are 0 or 1");
  return 0;
}
