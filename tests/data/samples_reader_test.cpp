#include "data/samples.h"
#include "data/study_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/nifti_image.h"
#include "support/samples_from_list.h"
#include "support/temp_dir.h"

using testsupport::ScopedTempDir;
using testsupport::writeFile;
using testsupport::writeTestImage;

namespace {

// A list of `subjects` entries s<k>.nii on a 2 x 2 x 1 volume (n = 5).
std::string listText(const std::vector<std::string> &paths, const std::vector<int> &fvs,
                     int announced = -1, int nodes = 5, const std::string &size = "2 2 1") {
  std::string text = "subjects " +
                     std::to_string(announced < 0 ? static_cast<int>(paths.size()) : announced) +
                     "\nnodes " + std::to_string(nodes) + "\nsize " + size + "\nid file fv\n";
  for (std::size_t k = 0; k < paths.size(); ++k)
    text += std::to_string(k + 1) + " " + paths[k] + " " + std::to_string(fvs[k]) + "\n";
  return text;
}

std::string rowOf(const Samples &s, long c) {
  long nodes = 0;
  long cases = 0;
  s.getSize(nodes, cases);
  return std::string(s.cellData() + c * nodes, static_cast<std::size_t>(nodes));
}

} // namespace

// Each data type converts the voxel value to its state; the function variable is the last cell.
struct TypeCase {
  const char *name;
  int datatype;
  std::vector<double> values;
  std::string expectedRow;
  friend void PrintTo(const TypeCase &c, std::ostream *os) { *os << c.name; }
};

class ImageDataTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ImageDataTypes, ConvertVoxelValuesToStates) {
  ScopedTempDir dir;
  const TypeCase &c = GetParam();
  ASSERT_TRUE(writeTestImage("a.nii", c.datatype, 2, 2, 1, c.values));
  writeFile("list.txt", listText({"a.nii"}, {1}));
  Samples s;
  testing::internal::CaptureStdout();
  readFilelistNifti(s, "list.txt");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "subject 1, file=a.nii, fv=1\n");
  EXPECT_EQ(rowOf(s, 0), c.expectedRow);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    AllAcceptedTypes, ImageDataTypes,
    ::testing::Values(
        TypeCase{"uint8", DT_UINT8, {0, 1, 1, 0}, "01101"},
        TypeCase{"int16_low_byte", DT_INT16, {257, 0, 256, 1}, "10011"},
        TypeCase{"int32_low_byte", DT_INT32, {513, 768, 0, 1}, "10011"},
        TypeCase{"float32_truncates", DT_FLOAT32, {0.99, -0.5, 1.7, 257.0}, "00111"},
        TypeCase{"float64_truncates", DT_FLOAT64, {1.0, 0.5, -0.99, 1.25}, "10011"},
        TypeCase{"float_nan_and_huge_are_zero", DT_FLOAT32, {kNaN, 1e20, -1e20, 1}, "00011"}),
    [](const ::testing::TestParamInfo<TypeCase> &info) { return std::string(info.param.name); });

TEST(StateOfFloat, TruncatesTowardZeroAndKeepsTheLowByte) {
  EXPECT_EQ(stateOfFloat(0.99), 0);
  EXPECT_EQ(stateOfFloat(-0.5), 0);
  EXPECT_EQ(stateOfFloat(1.7), 1);
  EXPECT_EQ(stateOfFloat(257.0), 1);
  EXPECT_EQ(stateOfFloat(-1.0), 255);
  EXPECT_EQ(stateOfFloat(2147483647.0), 255);
  EXPECT_EQ(stateOfFloat(2147483648.0), 0);
  EXPECT_EQ(stateOfFloat(std::numeric_limits<double>::infinity()), 0);
  EXPECT_EQ(stateOfFloat(kNaN), 0);
}

// Float maps are converted block by block with a fast route for exact 0 and 1; a value the
// fast route does not cover, anywhere in a block, must still get the general rule.
TEST(StudyReader, LargeFloatMapsConvertEveryVoxelByTheGeneralRule) {
  ScopedTempDir dir;
  const int width = 100;
  const int height = 100;
  std::vector<double> values(static_cast<std::size_t>(width) * height, 0.0);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = (i * 7919 % 13) < 4 ? 1.0 : 0.0;
  values[0] = 1.7;
  values[4095] = 257.0;
  values[4096] = -0.0;
  values[6000] = kNaN;
  values[6001] = 0.5;
  values[9999] = 1.999;
  for (int datatype : {DT_FLOAT32, DT_FLOAT64}) {
    ASSERT_TRUE(writeTestImage("big.nii", datatype, width, height, 1, values));
    writeFile("list.txt", listText({"big.nii"}, {1}, -1, width * height + 1,
                                   std::to_string(width) + " " + std::to_string(height) + " 1"));
    Samples s;
    testing::internal::CaptureStdout();
    readFilelistNifti(s, "list.txt");
    testing::internal::GetCapturedStdout();
    std::string expected;
    for (double v : values)
      expected.push_back(static_cast<char>('0' + stateOfFloat(v)));
    expected.push_back('1');
    EXPECT_EQ(rowOf(s, 0), expected) << "datatype " << datatype;
  }
}

TEST(StudyReader, HeaderImagePairsAreReadByEitherName) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("p.hdr", DT_UINT8, 2, 2, 1, {1, 1, 0, 1}));
  writeFile("list.txt", listText({"p.hdr", "p.img"}, {0, 1}));
  Samples s;
  testing::internal::CaptureStdout();
  readFilelistNifti(s, "list.txt");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(rowOf(s, 0), "11010");
  EXPECT_EQ(rowOf(s, 1), "11011");
}

TEST(StudyReader, FullReaderFillsHeadValuesInListOrder) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("a.nii", DT_UINT8, 2, 2, 1, {1, 0, 0, 0}));
  ASSERT_TRUE(writeTestImage("b.nii", DT_UINT8, 2, 2, 1, {0, 0, 0, 1}));
  writeFile("list.txt", listText({"a.nii", "b.nii"}, {1, 0}));
  Samples s;
  testing::internal::CaptureStdout();
  readFilelistNifti(s, "list.txt");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "subject 1, file=a.nii, fv=1\nsubject 2, file=b.nii, fv=0\n");
  long nodes = 0;
  long cases = 0;
  s.getSize(nodes, cases);
  EXPECT_EQ(nodes, 5);
  EXPECT_EQ(cases, 2);
  std::vector<int> xyz;
  s.getXYZSiz(xyz);
  EXPECT_EQ(xyz, (std::vector<int>{2, 2, 1}));
  std::vector<int> ns;
  s.getNs(ns);
  EXPECT_EQ(ns, (std::vector<int>(5, 2)));
  EXPECT_EQ(rowOf(s, 0), "10001");
  EXPECT_EQ(rowOf(s, 1), "00010");
}

TEST(StudyReader, SubsetReaderKeepsRepeatsAndDrawOrder) {
  ScopedTempDir dir;
  ASSERT_TRUE(writeTestImage("a.nii", DT_UINT8, 2, 2, 1, {1, 0, 0, 0}));
  ASSERT_TRUE(writeTestImage("b.nii", DT_UINT8, 2, 2, 1, {0, 1, 0, 0}));
  ASSERT_TRUE(writeTestImage("c.nii", DT_UINT8, 2, 2, 1, {0, 0, 1, 0}));
  writeFile("list.txt", listText({"a.nii", "b.nii", "c.nii"}, {0, 1, 1}));
  Samples s;
  testing::internal::CaptureStdout();
  readFilelistSubsetNifti(s, "list.txt", {2, 2, 0});
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "subject    3, file=c.nii, fv=1\nsubject    3, file=c.nii, fv=1\n"
            "subject    1, file=a.nii, fv=0\n");
  long nodes = 0;
  long cases = 0;
  s.getSize(nodes, cases);
  EXPECT_EQ(cases, 3);
  EXPECT_EQ(rowOf(s, 0), "00101");
  EXPECT_EQ(rowOf(s, 1), "00101");
  EXPECT_EQ(rowOf(s, 2), "10000");
}

// Every refusal ends the process with status 1 and a message naming what is wrong.
class StudyRefusals : public ::testing::Test {
protected:
  ScopedTempDir dir;
  void SetUp() override {
    ASSERT_TRUE(writeTestImage("good.nii", DT_UINT8, 2, 2, 1, {0, 1, 1, 0}));
  }
  void expectFullReaderExit(const std::string &stderrPattern) {
    EXPECT_EXIT(
        {
          Samples s;
          readFilelistNifti(s, "list.txt");
        },
        ::testing::ExitedWithCode(1), stderrPattern);
  }
};

TEST_F(StudyRefusals, MissingListFullReaderOnStandardError) {
  EXPECT_EXIT(
      {
        Samples s;
        readFilelistNifti(s, "absent.txt");
      },
      ::testing::ExitedWithCode(1), "^File not exist\\.\n$");
}

TEST_F(StudyRefusals, MissingListSubsetReaderOnStandardOutput) {
  EXPECT_EXIT(
      {
        testing::internal::CaptureStdout();
        Samples s;
        readFilelistSubsetNifti(s, "absent.txt", {0});
      },
      ::testing::ExitedWithCode(1), "^$");
  FileList list;
  const ReadFailure problem = parseFileList("absent.txt", list, "File not exist\n", true);
  EXPECT_EQ(problem.message, "File not exist\n");
  EXPECT_TRUE(problem.toStdout);
}

TEST_F(StudyRefusals, MissingImage) {
  writeFile("list.txt", listText({"gone.nii"}, {0}));
  expectFullReaderExit("image file does not exist. \n.*gone\\.nii");
}

TEST_F(StudyRefusals, CompressedAndUpperCaseAndBareNamesAreUnknownFormats) {
  for (const std::string name : {"x.nii.gz", "x.IMG", "noextension"}) {
    writeFile(name, "not an image");
    writeFile("list.txt", listText({name}, {0}));
    expectFullReaderExit("Unknown image format\n");
  }
}

TEST_F(StudyRefusals, UnreadableImage) {
  writeFile("broken.nii", "this is not a NIfTI header");
  writeFile("list.txt", listText({"broken.nii"}, {0}));
  expectFullReaderExit("\\*\\* failed to read image from 'broken\\.nii'");
}

TEST_F(StudyRefusals, UnsupportedDataType) {
  ASSERT_TRUE(writeTestImage("u16.nii", DT_UINT16, 2, 2, 1, {0, 1, 1, 0}));
  writeFile("list.txt", listText({"u16.nii"}, {0}));
  expectFullReaderExit("cannot recognize the data type\n");
}

TEST_F(StudyRefusals, ListWithFewerEntriesThanAnnounced) {
  writeFile("list.txt", listText({"good.nii"}, {0}, 3));
  expectFullReaderExit("announces 3 subjects but holds only 1");
}

TEST_F(StudyRefusals, NodeCountOtherThanVoxelsPlusOne) {
  writeFile("list.txt", listText({"good.nii"}, {0}, -1, 4));
  expectFullReaderExit("node count 4 does not equal X\\*Y\\*Z\\+1 = 5");
}

TEST_F(StudyRefusals, ImageWithFewerVoxelsThanTheListNeeds) {
  writeFile("list.txt", listText({"good.nii"}, {0}, -1, 9, "2 2 2"));
  expectFullReaderExit("image good\\.nii has 4 voxels; the file list needs 8");
}

TEST_F(StudyRefusals, VoxelStateOutsideZeroAndOne) {
  ASSERT_TRUE(writeTestImage("two.nii", DT_INT16, 2, 2, 1, {0, 2, 1, 0}));
  writeFile("list.txt", listText({"two.nii"}, {0}));
  expectFullReaderExit("two\\.nii: voxel index 1 holds the state 2");
  ASSERT_TRUE(writeTestImage("neg.nii", DT_FLOAT32, 2, 2, 1, {0, 0, -1.5, 0}));
  writeFile("list.txt", listText({"neg.nii"}, {0}));
  expectFullReaderExit("neg\\.nii: voxel index 2 holds the state 255");
  // Past the first blocks of a larger volume, the first such voxel is still the one named.
  std::vector<double> values(10000, 1.0);
  values[8195] = 3.0;
  values[9000] = 2.0;
  ASSERT_TRUE(writeTestImage("late.nii", DT_UINT8, 100, 100, 1, values));
  writeFile("list.txt", listText({"late.nii"}, {0}, -1, 10001, "100 100 1"));
  expectFullReaderExit("late\\.nii: voxel index 8195 holds the state 3");
}

TEST_F(StudyRefusals, FunctionVariableOutsideZeroAndOne) {
  writeFile("list.txt", listText({"good.nii"}, {2}));
  expectFullReaderExit("subject 1 has the function variable 2");
}

TEST_F(StudyRefusals, ValidationFindsABadImageAnywhereInTheList) {
  ASSERT_TRUE(writeTestImage("two.nii", DT_INT16, 2, 2, 1, {0, 2, 1, 0}));
  writeFile("list.txt", listText({"good.nii", "good.nii", "two.nii"}, {0, 1, 0}));
  const ReadFailure problem = validateStudy("list.txt");
  ASSERT_TRUE(static_cast<bool>(problem));
  EXPECT_NE(problem.message.find("two.nii"), std::string::npos);
  writeFile("list.txt", listText({"good.nii", "good.nii"}, {0, 1}));
  EXPECT_FALSE(static_cast<bool>(validateStudy("list.txt")));
}

TEST_F(StudyRefusals, ValidationLeavesTheReadersOwnRefusalsToTheReaders) {
  ASSERT_TRUE(writeTestImage("two.nii", DT_INT16, 2, 2, 1, {0, 2, 1, 0}));
  writeFile("x.nii.gz", "not an image");
  writeFile("bare", "not an image");
  // A missing image or a foreign extension does not hide an unusable image further down.
  writeFile("list.txt", listText({"gone.nii", "x.nii.gz", "two.nii"}, {0, 1, 0}));
  ReadFailure problem = validateStudy("list.txt");
  EXPECT_NE(problem.message.find("two.nii"), std::string::npos);
  writeFile("list.txt", listText({"gone.nii", "x.nii.gz", "good.nii"}, {0, 1, 0}));
  EXPECT_FALSE(static_cast<bool>(validateStudy("list.txt")));
  // A name without an extension is refused before the analysis.
  writeFile("list.txt", listText({"good.nii", "bare"}, {0, 1}));
  problem = validateStudy("list.txt");
  EXPECT_EQ(problem.message.rfind("Unknown image format\n", 0), 0u);
}
