// Decoding a study once: the bits must be the states the readers load, whatever the thread
// count, and the first bad subject in list order is the one reported.
#include "data/decoded_study.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "data/samples.h"
#include "support/nifti_image.h"
#include "support/samples_from_list.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ScopedTempDir;

// 70 subjects (two words of bits) of 3 x 2 x 2 voxels in several data types.
void writeStudy(int subjects) {
  std::string list =
      "subjects " + std::to_string(subjects) + "\nnodes 13\nsize 3 2 2\nid file fv\n";
  const int types[] = {DT_UINT8, DT_INT16, DT_FLOAT32, DT_FLOAT64};
  for (int s = 0; s < subjects; ++s) {
    std::vector<double> values(12);
    for (int v = 0; v < 12; ++v)
      values[v] = ((s * 7 + v * 3) % 5) < 2 ? 1.0 : 0.0;
    const std::string name = "s" + std::to_string(s) + ".nii";
    ASSERT_TRUE(testsupport::writeTestImage(name, types[s % 4], 3, 2, 2, values));
    list += std::to_string(s + 1) + " " + name + " " + std::to_string(s % 3 == 0) + "\n";
  }
  testsupport::writeFile("list.txt", list);
}

TEST(DecodedStudy, HoldsTheStatesTheReadersLoadForAnyThreadCount) {
  ScopedTempDir dir;
  writeStudy(70);
  Samples full;
  ::testing::internal::CaptureStdout();
  readFilelistNifti(full, "list.txt");
  ::testing::internal::GetCapturedStdout();
  PackedStudy expected;
  ASSERT_TRUE(expected.build(full));
  for (const int threads : {1, 2, 3}) {
    DecodedStudy study;
    ASSERT_FALSE(static_cast<bool>(decodeStudy("list.txt", threads, study)));
    ASSERT_EQ(study.subjects.nodes(), 13);
    ASSERT_EQ(study.subjects.cases(), 70);
    ASSERT_EQ(study.subjects.words(), 2);
    for (long i = 0; i < 13; ++i)
      for (int w = 0; w < 2; ++w)
        EXPECT_EQ(study.subjects.node(i)[w], expected.node(i)[w]) << "node " << i;
    EXPECT_EQ(study.list.subjects.size(), 70u);
    EXPECT_EQ(study.list.x, 3);
  }
}

TEST(DecodedStudy, ReportsTheFirstBadSubjectInListOrder) {
  ScopedTempDir dir;
  writeStudy(12);
  ASSERT_EQ(std::remove("s9.nii"), 0);
  ASSERT_TRUE(testsupport::writeTestImage("s4.nii", DT_UINT8, 3, 2, 2,
                                          {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  for (const int threads : {1, 2, 4}) {
    DecodedStudy study;
    const ReadFailure problem = decodeStudy("list.txt", threads, study);
    ASSERT_TRUE(static_cast<bool>(problem));
    EXPECT_NE(problem.message.find("image s4.nii: voxel index 2 holds the state 2"),
              std::string::npos)
        << problem.message;
  }
  DecodedStudy study;
  EXPECT_EQ(decodeStudy("absent.txt", 2, study).message, "File not exist.\n");
}

} // namespace
