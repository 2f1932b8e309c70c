#include "roi/screening.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "roi/study_builder.h"
#include "support/temp_dir.h"

namespace {

// Four voxels (2 x 2 x 1) over four cases; voxel 1 is all zero, voxel 3 has norm 1.
void study4(Samples &study) {
  roitest::makeStudy(study, 2, 2, 1, {"0000", "1100", "0010", "1111"}, "0011");
}

struct Screened {
  std::vector<int> V;
  std::vector<int> labels;
  std::string output;
};

Screened screen(const Samples &study, const RoiSettings &settings) {
  Screened result;
  std::vector<double> values;
  prepareResultArrays(result.labels, values, 4);
  std::ostringstream out;
  formCandidateSet(result.V, result.labels, study, settings, out);
  result.output = out.str();
  return result;
}

RoiSettings withMask(int method, double threshold = 0.2) {
  RoiSettings s;
  s.maskMethod = method;
  s.normThreshold = threshold;
  return s;
}

} // namespace

TEST(ResultArrays, EveryVoxelStartsOutsideWithValueMinusOne) {
  std::vector<int> labels = {3};
  std::vector<double> values = {2.0, 2.0};
  prepareResultArrays(labels, values, 3);
  EXPECT_EQ(labels, (std::vector<int>{-9, -9, -9}));
  EXPECT_EQ(values, (std::vector<double>{-1.0, -1.0, -1.0}));
}

TEST(Screening, NoMaskTakesEveryVoxel) {
  Samples study;
  study4(study);
  const Screened s = screen(study, withMask(-1));
  EXPECT_EQ(s.V, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(s.labels, (std::vector<int>{-1, -1, -1, -1}));
  EXPECT_EQ(s.output, "");
}

TEST(Screening, AllZeroVoxelsAreDropped) {
  Samples study;
  roitest::makeStudy(study, 3, 1, 1, {"0000", "0000", "0100"}, "0101");
  std::vector<int> labels;
  std::vector<double> values;
  prepareResultArrays(labels, values, 3);
  std::vector<int> V;
  std::ostringstream out;
  formCandidateSet(V, labels, study, withMask(0), out);
  EXPECT_EQ(V, (std::vector<int>{3}));
  EXPECT_EQ(labels, (std::vector<int>{-9, -9, -1}));
  EXPECT_EQ(out.str(), "Remove all zero entries\n");
}

TEST(Screening, NormThresholdKeepsNormsAtTheThreshold) {
  Samples study;
  study4(study);
  Screened s = screen(study, withMask(1, 2));
  EXPECT_EQ(s.V, (std::vector<int>{2, 4}));
  EXPECT_EQ(s.output, "Remove voxels whose norm(V)<2\n");
  s = screen(study, withMask(1));
  EXPECT_EQ(s.V, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(s.output, "Remove voxels whose norm(V)<0.2\n");
}

TEST(Screening, MaskBytesAreSignedAndOnlyPositiveOnesSelect) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("mask.img", std::string("\x00\x01\xff\x02", 4));
  Samples study;
  study4(study);
  const Screened s = screen(study, withMask(99));
  EXPECT_EQ(s.V, (std::vector<int>{2, 4}));
  EXPECT_EQ(s.labels, (std::vector<int>{-9, -1, -9, -1}));
  EXPECT_EQ(s.output, "read mask.img\n");
}

TEST(Screening, MaskBytesBeyondTheVoxelsAreIgnored) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("mask.img", std::string("\x01\x00\x00\x00\x01\x01", 6));
  Samples study;
  study4(study);
  EXPECT_EQ(screen(study, withMask(99)).V, (std::vector<int>{1}));
}

TEST(Screening, UnknownMethodTakesEveryVoxelWithItsMessage) {
  Samples study;
  study4(study);
  for (const int method : {5, -2, 2, 98, 100}) {
    const Screened s = screen(study, withMask(method));
    EXPECT_EQ(s.V, (std::vector<int>{1, 2, 3, 4})) << method;
    EXPECT_EQ(s.output, "Unknown masking method. Don't use masking\n") << method;
  }
}

TEST(MaskFile, MissingOrShortFileIsNamedWithItsSizeAndTheVoxelCount) {
  testsupport::ScopedTempDir dir;
  std::vector<signed char> bytes;
  std::string error = readMaskFile("mask.img", 4, bytes);
  EXPECT_NE(error.find("mask.img"), std::string::npos);
  EXPECT_NE(error.find("4 voxels"), std::string::npos);
  testsupport::writeFile("mask.img", std::string("\x01\x01\x01", 3));
  error = readMaskFile("mask.img", 4, bytes);
  EXPECT_NE(error.find("mask.img"), std::string::npos);
  EXPECT_NE(error.find("3 bytes"), std::string::npos);
  EXPECT_NE(error.find("4 voxels"), std::string::npos);
}

TEST(ScreeningDeathTest, ShortMaskEndsWithStatusOne) {
  testsupport::ScopedTempDir dir;
  testsupport::writeFile("mask.img", std::string("\x01\x01\x01", 3));
  Samples study;
  study4(study);
  EXPECT_EXIT(screen(study, withMask(99)), ::testing::ExitedWithCode(1), "mask.img: .*3 bytes");
}

TEST(ScreeningDeathTest, EmptyCandidateSetEndsWithMinusTwo) {
  Samples study;
  roitest::makeStudy(study, 2, 1, 1, {"000", "000"}, "011");
  std::vector<int> labels;
  std::vector<double> values;
  prepareResultArrays(labels, values, 2);
  std::vector<int> V;
  EXPECT_EXIT(
      {
        std::freopen("/dev/stderr", "w", stdout);
        std::ostringstream out;
        formCandidateSet(V, labels, study, withMask(0), out);
      },
      ::testing::ExitedWithCode(254),
      "No voxels in the candidate set. Please check your masking method.\n");
}
