// Images read with their data: a compressed file cut short or damaged is refused with both byte
// counts, where the library alone would hand back a partly filled volume.
#include "data/nifti_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::ScopedTempDir;
using testsupport::writeFile;
using testsupport::writeTestImage;

// uint8 voxels of a pattern that does not compress: 20^3 = 8000 data bytes, or 40^3 = 64000,
// enough that the stream's end is not read with the header.
std::vector<double> patternValues(std::size_t count = 8000) {
  std::vector<double> values(count);
  std::uint32_t state = 12345;
  for (double &v : values) {
    state = state * 1103515245u + 12345u;
    v = static_cast<double>((state >> 16) & 0xFF);
  }
  return values;
}

bool contains(const std::string &text, const std::string &piece) {
  return text.find(piece) != std::string::npos;
}

TEST(NiftiReader, ACompleteCompressedImageReadsAsTheLibraryReadsIt) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("m.nii.gz", DT_UINT8, 20, 20, 20, patternValues()));
  NiftiImagePtr image;
  ASSERT_EQ(readNiftiImage("m.nii.gz", image), "");
  nifti_image *reference = nifti_image_read("m.nii.gz", 1);
  ASSERT_NE(reference, nullptr);
  ASSERT_EQ(image->nvox, 8000u);
  EXPECT_EQ(std::memcmp(image->data, reference->data, 8000), 0);
  nifti_image_free(reference);
}

TEST(NiftiReader, NonFiniteFloatsBecomeZeroAsWithTheLibrary) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("f.nii", DT_FLOAT32, 2, 2, 1, {1.5, NAN, INFINITY, -2.0}));
  NiftiImagePtr image;
  ASSERT_EQ(readNiftiImage("f.nii", image), "");
  const float *values = static_cast<const float *>(image->data);
  EXPECT_EQ(values[0], 1.5f);
  EXPECT_EQ(values[1], 0.0f);
  EXPECT_EQ(values[2], 0.0f);
  EXPECT_EQ(values[3], -2.0f);
}

// The stream is cut at 60 % of its length: the header survives, the data do not.
TEST(NiftiReader, ACompressedFileCutInsideItsDataIsRefusedWithBothByteCounts) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("m.nii.gz", DT_UINT8, 20, 20, 20, patternValues()));
  const std::string whole = readFile("m.nii.gz");
  writeFile("m.nii.gz", whole.substr(0, whole.size() * 6 / 10));
  NiftiImagePtr image;
  const std::string problem = readNiftiImage("m.nii.gz", image);
  EXPECT_EQ(image, nullptr);
  EXPECT_TRUE(contains(problem, "m.nii.gz: the voxel data end early: 8000 bytes needed, "))
      << problem;
  EXPECT_TRUE(contains(problem, "compressed data are truncated or damaged")) << problem;
  // The count read is what the stream gave before it ended, below the need.
  const std::size_t at = problem.find("needed, ") + 8;
  EXPECT_LT(std::stol(problem.substr(at)), 8000);
}

TEST(NiftiReader, ACorruptCompressedStreamIsRefused) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("m.nii.gz", DT_UINT8, 40, 40, 40, patternValues(64000)));
  std::string bytes = readFile("m.nii.gz");
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16; ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  writeFile("m.nii.gz", bytes);
  NiftiImagePtr image;
  const std::string problem = readNiftiImage("m.nii.gz", image);
  EXPECT_EQ(image, nullptr);
  EXPECT_TRUE(contains(problem, "m.nii.gz: the voxel data end early: 64000 bytes needed"))
      << problem;
}

// A damaged check sum at the very end: the data decompress, but the stream is not intact (the
// decompressor reports it with the last data, so the count read is not all of them).
TEST(NiftiReader, ACompressedStreamWhoseCheckFailsIsRefused) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("m.nii.gz", DT_UINT8, 40, 40, 40, patternValues(64000)));
  std::string bytes = readFile("m.nii.gz");
  bytes[bytes.size() - 6] = static_cast<char>(bytes[bytes.size() - 6] ^ 0x01); // in the CRC-32
  writeFile("m.nii.gz", bytes);
  NiftiImagePtr image;
  const std::string problem = readNiftiImage("m.nii.gz", image);
  EXPECT_EQ(image, nullptr);
  EXPECT_TRUE(contains(problem, "64000 bytes needed") &&
              contains(problem, "compressed data are truncated or damaged"))
      << problem;
}

// In a small file the stream's end is read with the header, so the library refuses the header;
// the message still says why.
TEST(NiftiReader, ASmallDamagedStreamIsNamedAsDamagedWhenItsHeaderFails) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("m.nii.gz", DT_UINT8, 20, 20, 20, patternValues()));
  std::string bytes = readFile("m.nii.gz");
  bytes[bytes.size() - 6] = static_cast<char>(bytes[bytes.size() - 6] ^ 0x01);
  writeFile("m.nii.gz", bytes);
  NiftiImagePtr image;
  EXPECT_EQ(readNiftiImage("m.nii.gz", image),
            "m.nii.gz cannot be read as a NIfTI-1 or Analyze image (its compressed data are "
            "truncated or damaged after 0 bytes)");
  EXPECT_EQ(compressedStreamProblem("plain.nii"), "");
}

// A header claiming far more than its compressed file can decompress to is refused before a
// buffer of that size is asked for.
TEST(NiftiReader, AClaimBeyondWhatTheCompressedFileCanHoldIsRefusedBeforeAllocating) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("m.nii.gz", DT_UINT8, 20, 20, 20, patternValues()));
  NiftiImagePtr image = readNiftiHeader("m.nii.gz");
  ASSERT_NE(image, nullptr);
  image->nvox = std::size_t{1} << 40; // 1 TiB of uint8 voxels
  const std::string problem = loadNiftiData(*image, "m.nii.gz");
  EXPECT_TRUE(contains(problem, "m.nii.gz: the voxel data cannot all be there: 1099511627776 "
                                "bytes needed, but the compressed file m.nii.gz of "))
      << problem;
  EXPECT_EQ(image->data, nullptr);
}

TEST(NiftiReader, AnUncompressedPairWithAShortImageFileNamesTheDataFile) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("p.hdr", DT_INT16, 4, 4, 4, std::vector<double>(64, 1.0)));
  writeFile("p.img", readFile("p.img").substr(0, 100));
  NiftiImagePtr image = readNiftiHeader("p.hdr");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(loadNiftiData(*image, "p.hdr"),
            "p.hdr: the voxel data end early: 128 bytes needed, 100 read from p.img (the file is "
            "truncated)");
  EXPECT_EQ(image->data, nullptr);
}

} // namespace
