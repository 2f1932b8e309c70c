// The subject image reader on mutated headers and data. Input: one mode byte, then the image:
// a single ".nii" file, or (mode bit 0) a 348-byte header and the data of a ".hdr"/".img" pair,
// named by its ".img" (mode bit 1) or ".hdr" file. The list expects 8 x 8 x 4 voxels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/study_reader.h"
#include "fuzz_support.h"

using fuzzsupport::expect;

namespace {

// Any header may claim any size: the reader checks it against the file before reading data.
constexpr long kVoxels = 8 * 8 * 4;
constexpr std::size_t kHeaderBytes = 348;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // Compressed files are read through zlib, out of reach of the size check.
  const bool gzip = size >= 3 && data[1] == 0x1f && data[2] == 0x8b;
  if (size < 1 + kHeaderBytes || gzip)
    return 0;
  const std::uint8_t mode = data[0];
  const std::string &folder = fuzzsupport::scratchFolder();
  SubjectEntry subject;
  subject.id = 7;
  subject.fv = 1;
  if ((mode & 1) == 0) {
    subject.path = folder + "/s.nii";
    fuzzsupport::writeWholeFile(subject.path, data + 1, size - 1);
  } else {
    const std::string stem = folder + "/p";
    fuzzsupport::writeWholeFile(stem + ".hdr", data + 1, kHeaderBytes);
    fuzzsupport::writeWholeFile(stem + ".img", data + 1 + kHeaderBytes, size - 1 - kHeaderBytes);
    subject.path = stem + ((mode & 2) != 0 ? ".img" : ".hdr");
  }
  std::vector<unsigned char> row(kVoxels + 1, 0xAA);
  const ReadFailure failure = loadSubjectRow(subject, kVoxels, row.data(), "list.txt");
  if (failure)
    return 0;
  for (long i = 0; i < kVoxels; ++i)
    expect(row[i] <= 1, "an accepted image holds states 0 and 1");
  expect(row[kVoxels] == 1, "the function variable follows the voxels");
  return 0;
}
