#include "shard/fingerprint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/study_reader.h"
#include "support/nifti_image.h"
#include "support/study_fingerprint.h"
#include "support/temp_dir.h"

namespace {

using testsupport::fingerprintStudy;
using testsupport::readFile;
using testsupport::writeFile;

// --- Fingerprint -----------------------------------------------------------------------------

TEST(Fingerprint, Fnv1aReferenceValuesAndContinuation) {
  EXPECT_EQ(fnv1a64("", 0), 0xcbf29ce484222325ull);
  EXPECT_EQ(fnv1a64("a", 1), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(fnv1a64("foobar", 6), 0x85944171f73967e8ull);
  EXPECT_EQ(fnv1a64("bar", 3, fnv1a64("foo", 3)), 0x85944171f73967e8ull);
}

// Two subjects of 2x2x1 voxels; the list names them relative to the working directory.
void writeTinyStudy(int secondType, const std::vector<double> &secondVoxels) {
  ASSERT_TRUE(testsupport::writeTestImage("s1.nii", DT_UINT8, 2, 2, 1, {1, 0, 0, 1}));
  ASSERT_TRUE(testsupport::writeTestImage("s2.nii", secondType, 2, 2, 1, secondVoxels));
  writeFile("list.txt", "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n1 s1.nii 0\n2 s2.nii 1\n");
}

TEST(Fingerprint, TellsStudiesApartByListVoxelsAndFileSize) {
  testsupport::ScopedTempDir dir;
  StudyFingerprint base;
  FileList list;
  std::string error;
  writeTinyStudy(DT_UINT8, {0, 1, 1, 0});
  ASSERT_TRUE(fingerprintStudy("list.txt", list, base, error)) << error;
  EXPECT_EQ(list.subjects.size(), 2u);
  ASSERT_EQ(base.images.size(), 2u);
  const unsigned char s1[] = {1, 0, 0, 1};
  EXPECT_EQ(base.images[0].voxelHash, fnv1a64(s1, 4));
  EXPECT_EQ(base.images[0].fileSize, readFile("s1.nii").size());
  EXPECT_EQ(base.listHash, fnv1a64(readFile("list.txt").data(), readFile("list.txt").size()));

  StudyFingerprint again;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, again, error));
  EXPECT_TRUE(again == base);

  // One voxel of subject 2 changed: only that image's voxel hash moves.
  writeTinyStudy(DT_UINT8, {0, 1, 1, 1});
  StudyFingerprint voxel;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, voxel, error));
  EXPECT_EQ(voxel.listHash, base.listHash);
  EXPECT_TRUE(voxel.images[0] == base.images[0]);
  EXPECT_NE(voxel.images[1].voxelHash, base.images[1].voxelHash);
  EXPECT_FALSE(voxel == base);

  // Same states stored as 16-bit values: same voxel hash, larger file.
  writeTinyStudy(DT_INT16, {0, 1, 1, 0});
  StudyFingerprint wider;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, wider, error));
  EXPECT_EQ(wider.images[1].voxelHash, base.images[1].voxelHash);
  EXPECT_GT(wider.images[1].fileSize, base.images[1].fileSize);

  // An outcome flipped in the list: the list hash moves.
  writeTinyStudy(DT_UINT8, {0, 1, 1, 0});
  writeFile("list.txt", "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n1 s1.nii 1\n2 s2.nii 1\n");
  StudyFingerprint outcome;
  ASSERT_TRUE(fingerprintStudy("list.txt", list, outcome, error));
  EXPECT_NE(outcome.listHash, base.listHash);
}

TEST(Fingerprint, MissingImageIsAnErrorNamingIt) {
  testsupport::ScopedTempDir dir;
  writeTinyStudy(DT_UINT8, {0, 1, 1, 0});
  std::remove("s2.nii");
  StudyFingerprint fingerprint;
  FileList list;
  std::string error;
  EXPECT_FALSE(fingerprintStudy("list.txt", list, fingerprint, error));
  EXPECT_NE(error.find("s2.nii"), std::string::npos) << error;
}

} // namespace
