#include "data/img_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <nifti1_io.h>

#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::ScopedTempDir;

std::int16_t int16At(const std::string &bytes, std::size_t offset) {
  std::int16_t v = 0;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

std::int32_t int32At(const std::string &bytes, std::size_t offset) {
  std::int32_t v = 0;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

float floatAt(const std::string &bytes, std::size_t offset) {
  float v = 0;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

std::string writeError(const char *header, const char *image, const char *type) {
  const unsigned char data[8] = {0};
  std::string error;
  EXPECT_FALSE(
      writeNiftiImage(header, image, data, type, 2, 2, 2, defaultGeometry(1, 1, 1), error));
  return error;
}

struct TypeCase {
  const char *name;
  int code;
  int bitpix;
};

void PrintTo(const TypeCase &type, std::ostream *out) { *out << type.name; }

class WritableTypes : public ::testing::TestWithParam<TypeCase> {};

// Both file forms have the exact sizes of header (+ pad) and X*Y*Z elements.
TEST_P(WritableTypes, PairAndSingleFileSizesAndTypeFields) {
  ScopedTempDir dir;
  const TypeCase type = GetParam();
  const int x = 3, y = 4, z = 5;
  const std::vector<unsigned char> data(x * y * z * type.bitpix / 8, 1);
  writeNiftiFile("out.hdr", "out.img", data.data(), type.name, x, y, z, 7, 1.0f, 1.0f, 1.0f);
  writeNiftiFile("out.nii", "out.nii", data.data(), type.name, x, y, z, 7, 1.0f, 1.0f, 1.0f);
  const std::string header = readFile("out.hdr");
  const std::string image = readFile("out.img");
  const std::string single = readFile("out.nii");
  ASSERT_EQ(header.size(), 348u);
  EXPECT_EQ(image.size(), data.size());
  ASSERT_EQ(single.size(), 352u + data.size());
  EXPECT_EQ(single.substr(348, 4), std::string(4, '\0'));
  EXPECT_EQ(single.substr(352), image);
  for (const std::string *h : {&header, &single}) {
    EXPECT_EQ(int16At(*h, 70), type.code);
    EXPECT_EQ(int16At(*h, 72), type.bitpix);
  }
}

INSTANTIATE_TEST_SUITE_P(ImgIo, WritableTypes,
                         ::testing::Values(TypeCase{"NIFTI_TYPE_UINT8", 2, 8},
                                           TypeCase{"NIFTI_TYPE_INT16", 4, 16},
                                           TypeCase{"NIFTI_TYPE_FLOAT32", 16, 32}),
                         [](const ::testing::TestParamInfo<TypeCase> &info) {
                           return std::string(info.param.name + 11); // after "NIFTI_TYPE_"
                         });

TEST(ImgIoHeader, DefaultFieldsOfBothForms) {
  ScopedTempDir dir;
  const std::vector<float> data(2 * 3 * 4, 5.0f);
  writeNiftiFile("map.hdr", "map.img", data.data(), "NIFTI_TYPE_FLOAT32", 2, 3, 4, 9, 1.5f, 2.0f,
                 2.5f);
  writeNiftiFile("map.nii", "map.nii", data.data(), "NIFTI_TYPE_FLOAT32", 2, 3, 4, 9, 1.5f, 2.0f,
                 2.5f);
  const std::string pair = readFile("map.hdr");
  const std::string single = readFile("map.nii");
  for (const std::string *h : {&pair, &single}) {
    EXPECT_EQ(int32At(*h, 0), 348);
    EXPECT_EQ(int16At(*h, 40), 4);
    EXPECT_EQ(int16At(*h, 42), 2);
    EXPECT_EQ(int16At(*h, 44), 3);
    EXPECT_EQ(int16At(*h, 46), 4);
    EXPECT_EQ(int16At(*h, 48), 1) << "the fourth extent is always 1, whatever t";
    EXPECT_EQ(floatAt(*h, 76), 0.0f);
    EXPECT_EQ(floatAt(*h, 80), 1.5f);
    EXPECT_EQ(floatAt(*h, 84), 2.0f);
    EXPECT_EQ(floatAt(*h, 88), 2.5f);
    EXPECT_EQ(floatAt(*h, 92), 1.0f);
    EXPECT_EQ(floatAt(*h, 112), 1.0f) << "readers scale stored values by scl_slope";
    EXPECT_EQ(floatAt(*h, 116), 0.0f);
    EXPECT_EQ(static_cast<unsigned char>((*h)[123]), 10);
    EXPECT_EQ(int16At(*h, 252), 0);
    EXPECT_EQ(int16At(*h, 254), 0);
  }
  EXPECT_EQ(floatAt(pair, 108), 0.0f);
  EXPECT_EQ(floatAt(single, 108), 352.0f);
  EXPECT_EQ(pair.substr(344, 4), std::string("ni1\0", 4));
  EXPECT_EQ(single.substr(344, 4), std::string("n+1\0", 4));
  // Everything not set above stays zero (description, intent, calibration, ...).
  for (std::size_t offset : {4u, 36u, 56u, 60u, 64u, 96u, 100u, 104u, 124u, 128u, 132u, 136u, 140u,
                             144u, 148u, 228u, 328u})
    EXPECT_EQ(int32At(single, offset), 0) << "offset " << offset;
  for (std::size_t offset : {68u, 74u, 120u})
    EXPECT_EQ(int16At(single, offset), 0) << "offset " << offset;
  EXPECT_EQ(single[122], '\0');
}

TEST(ImgIoTypes, LookupCoversAllNamesButWritesOnlyThree) {
  EXPECT_EQ(niftiTypeCode("UNKNOWN"), 0);
  EXPECT_EQ(niftiTypeCode("NIFTI_TYPE_UINT8"), 2);
  EXPECT_EQ(niftiTypeCode("NIFTI_TYPE_FLOAT64"), 64);
  EXPECT_EQ(niftiTypeCode("NIFTI_TYPE_INT8"), 256);
  EXPECT_EQ(niftiTypeCode("NIFTI_TYPE_RGBA32"), 2304);
  EXPECT_EQ(niftiTypeCode("nifti_type_uint8"), -1);
  EXPECT_EQ(niftiTypeCode("NIFTI_TYPE_UINT8 "), -1);

  ScopedTempDir dir;
  EXPECT_EQ(writeError("a.nii", "a.nii", "UNKNOWN"), "Unknown data format\n");
  EXPECT_EQ(writeError("a.nii", "a.nii", "nifti_type_uint8"), "Unknown data format\n");
  EXPECT_EQ(writeError("a.nii", "a.nii", "NIFTI_TYPE_INT32"), "Unknown data format\n");
  EXPECT_EQ(writeError("a.nii", "a.nii", "NIFTI_TYPE_FLOAT64"), "Unknown data format\n");
  EXPECT_FALSE(testsupport::fileExistsOnDisk("a.nii"));
}

TEST(ImgIoNames, RefusedNamesAndTheirOrderOfChecks) {
  ScopedTempDir dir;
  const std::string shortNames =
      "\nError: write files must end with .hdr/.img or .nii/.nii extension\n";
  const std::string badForms =
      "\nError: file(s) to be written must end with .hdr/.img or .nii/.nii extension\n";
  EXPECT_EQ(writeError("nii", "nii", "NIFTI_TYPE_UINT8"), shortNames);
  EXPECT_EQ(writeError("out.hdr", "img", "NIFTI_TYPE_UINT8"), shortNames);
  EXPECT_EQ(writeError("out.hdr", "out.nii", "NIFTI_TYPE_UINT8"), badForms);
  EXPECT_EQ(writeError("out.img", "out.hdr", "NIFTI_TYPE_UINT8"), badForms);
  EXPECT_EQ(writeError("out.NII", "out.NII", "NIFTI_TYPE_UINT8"), badForms);
  EXPECT_EQ(writeError("out.nii", "out.img", "NIFTI_TYPE_UINT8"), badForms);
  // A known but unwritable type is refused only after the names were checked.
  EXPECT_EQ(writeError("out.hdr", "out.nii", "NIFTI_TYPE_INT32"), badForms);
  // An unknown name is refused before them.
  EXPECT_EQ(writeError("x", "y", "NIFTI_TYPE_BOGUS"), "Unknown data format\n");
  // A four-character name is long enough.
  std::string error;
  const unsigned char data[1] = {1};
  EXPECT_TRUE(writeNiftiImage(".nii", ".nii", data, "NIFTI_TYPE_UINT8", 1, 1, 1,
                              defaultGeometry(1, 1, 1), error))
      << error;
}

TEST(ImgIoNames, ExtentsOutsideTheHeaderRangeAreRefused) {
  ScopedTempDir dir;
  const unsigned char data[1] = {0};
  std::string error;
  EXPECT_FALSE(writeNiftiImage("big.nii", "big.nii", data, "NIFTI_TYPE_UINT8", 40000, 1, 1,
                               defaultGeometry(1, 1, 1), error));
  EXPECT_NE(error.find("40000 x 1 x 1"), std::string::npos) << error;
  EXPECT_FALSE(writeNiftiImage("none.nii", "none.nii", data, "NIFTI_TYPE_UINT8", 0, 1, 1,
                               defaultGeometry(1, 1, 1), error));
  EXPECT_FALSE(testsupport::fileExistsOnDisk("big.nii"));
  EXPECT_FALSE(testsupport::fileExistsOnDisk("none.nii"));
}

TEST(ImgIoFailures, UnopenableAndUnwritableFilesNameTheFile) {
  ScopedTempDir dir;
  const std::vector<unsigned char> data(8, 1);
  const ImageGeometry g = defaultGeometry(1, 1, 1);
  std::string error;
  EXPECT_FALSE(writeNiftiImage("missing/a.nii", "missing/a.nii", data.data(), "NIFTI_TYPE_UINT8", 2,
                               2, 2, g, error));
  EXPECT_EQ(error, "\nError opening header file missing/a.nii for write\n");
  EXPECT_FALSE(writeNiftiImage("a.hdr", "missing/a.img", data.data(), "NIFTI_TYPE_UINT8", 2, 2, 2,
                               g, error));
  EXPECT_EQ(error, "\nError opening data file missing/a.img for write\n");

  // /dev/full accepts the open and fails the writes.
  if (symlink("/dev/full", "full.nii") != 0 || symlink("/dev/full", "full.hdr") != 0 ||
      symlink("/dev/full", "full.img") != 0)
    GTEST_SKIP() << "cannot link /dev/full";
  EXPECT_FALSE(
      writeNiftiImage("full.nii", "full.nii", data.data(), "NIFTI_TYPE_UINT8", 2, 2, 2, g, error));
  EXPECT_EQ(error, "\nError writing data to full.nii\n");
  EXPECT_FALSE(
      writeNiftiImage("full.hdr", "ok.img", data.data(), "NIFTI_TYPE_UINT8", 2, 2, 2, g, error));
  EXPECT_EQ(error, "\nError writing header file full.hdr\n");
  EXPECT_FALSE(
      writeNiftiImage("ok.hdr", "full.img", data.data(), "NIFTI_TYPE_UINT8", 2, 2, 2, g, error));
  EXPECT_EQ(error, "\nError writing data to full.img\n");
}

TEST(ImgIoDeathTest, FailuresEndTheProcessWithStatusOne) {
  ScopedTempDir dir;
  const unsigned char data[8] = {0};
  EXPECT_EXIT(writeNiftiFile("out.hdr", "out.nii", data, "NIFTI_TYPE_UINT8", 2, 2, 2, 1, 1, 1, 1),
              ::testing::ExitedWithCode(1), "file\\(s\\) to be written must end with");
  EXPECT_EXIT(writeNiftiFile("out.nii", "out.nii", data, "NIFTI_TYPE_INT32", 2, 2, 2, 1, 1, 1, 1),
              ::testing::ExitedWithCode(1), "Unknown data format");
}

// A nifticlib-written subject image with a 2 mm template geometry and a flipped qfac.
void writeSubjectImage(const char *path, int x, int y, int z, int niftiType, int rank = 3) {
  int dims[8] = {rank, x, y, z, 1, 1, 1, 1};
  nifti_image *image = nifti_make_new_nim(dims, DT_UINT8, 1);
  image->dx = image->pixdim[1] = 2.0f;
  image->dy = image->pixdim[2] = 2.0f;
  image->dz = image->pixdim[3] = 3.0f;
  image->xyz_units = NIFTI_UNITS_MM;
  image->time_units = NIFTI_UNITS_SEC;
  image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
  image->sform_code = NIFTI_XFORM_MNI_152;
  image->quatern_b = 0.0f;
  image->quatern_c = 0.0f;
  image->quatern_d = 1.0f;
  image->qoffset_x = 90.0f;
  image->qoffset_y = 126.0f;
  image->qoffset_z = -72.0f;
  image->qfac = -1.0f;
  image->qto_xyz =
      nifti_quatern_to_mat44(0.0f, 0.0f, 1.0f, 90.0f, 126.0f, -72.0f, 2.0f, 2.0f, 3.0f, -1.0f);
  image->sto_xyz = image->qto_xyz;
  image->sto_xyz.m[0][3] = 91.0f; // distinct from the qform so each is checked on its own
  image->nifti_type = niftiType;
  ASSERT_EQ(nifti_set_filenames(image, path, 0, 1), 0);
  nifti_image_write(image);
  nifti_image_free(image);
}

TEST(ImgIoGeometry, CopiesTheStoredHeaderOfANiftiSubject) {
  ScopedTempDir dir;
  writeSubjectImage("s1.nii", 4, 3, 2, NIFTI_FTYPE_NIFTI1_1);
  ImageGeometry g = defaultGeometry(1, 1, 1);
  ASSERT_TRUE(readImageGeometry("s1.nii", 4, 3, 2, g));
  int swapped = 0;
  nifti_1_header *source = nifti_read_header("s1.nii", &swapped, 1);
  ASSERT_NE(source, nullptr);

  const std::vector<unsigned char> labels = {0, 1, 2, 0, 0, 1, 0, 0, 0, 0, 0, 2,
                                             0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 3};
  writeNiftiFile("res.nii", "res.nii", labels.data(), "NIFTI_TYPE_UINT8", 4, 3, 2, 1, g);
  nifti_1_header *written = nifti_read_header("res.nii", &swapped, 1);
  ASSERT_NE(written, nullptr);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(written->pixdim[i], source->pixdim[i]) << "pixdim " << i;
  EXPECT_EQ(written->pixdim[0], -1.0f);
  EXPECT_EQ(written->xyzt_units, source->xyzt_units);
  EXPECT_EQ(written->qform_code, source->qform_code);
  EXPECT_EQ(written->sform_code, source->sform_code);
  EXPECT_EQ(written->quatern_d, source->quatern_d);
  EXPECT_EQ(written->qoffset_x, source->qoffset_x);
  EXPECT_EQ(written->qoffset_z, source->qoffset_z);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(written->srow_x[i], source->srow_x[i]);
    EXPECT_EQ(written->srow_y[i], source->srow_y[i]);
    EXPECT_EQ(written->srow_z[i], source->srow_z[i]);
  }
  EXPECT_EQ(written->pixdim[4], 1.0f);
  EXPECT_EQ(written->scl_slope, 1.0f);
  std::free(source);
  std::free(written);

  // Read back through the library: data, extents and both transforms.
  nifti_image *back = nifti_image_read("res.nii", 1);
  nifti_image *subject = nifti_image_read("s1.nii", 0);
  ASSERT_NE(back, nullptr);
  ASSERT_NE(subject, nullptr);
  EXPECT_EQ(back->nx, 4);
  EXPECT_EQ(back->ny, 3);
  EXPECT_EQ(back->nz, 2);
  EXPECT_EQ(back->nt, 1);
  EXPECT_EQ(back->datatype, DT_UINT8);
  EXPECT_EQ(back->scl_slope, 1.0f);
  ASSERT_EQ(back->nvox, labels.size());
  EXPECT_EQ(std::memcmp(back->data, labels.data(), labels.size()), 0);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      EXPECT_FLOAT_EQ(back->qto_xyz.m[r][c], subject->qto_xyz.m[r][c]) << r << "," << c;
      EXPECT_FLOAT_EQ(back->sto_xyz.m[r][c], subject->sto_xyz.m[r][c]) << r << "," << c;
    }
  EXPECT_FLOAT_EQ(back->sto_xyz.m[0][3], 91.0f);
  nifti_image_free(back);
  nifti_image_free(subject);
}

TEST(ImgIoGeometry, NiftiPairSubjectIsCopiedAnalyzeAndOtherExtentsAreNot) {
  ScopedTempDir dir;
  writeSubjectImage("pair.hdr", 4, 3, 2, NIFTI_FTYPE_NIFTI1_2);
  writeSubjectImage("plain.hdr", 4, 3, 2, NIFTI_FTYPE_ANALYZE);
  ImageGeometry g = defaultGeometry(1, 1, 1);
  EXPECT_TRUE(readImageGeometry("pair.hdr", 4, 3, 2, g));
  EXPECT_EQ(g.sformCode, NIFTI_XFORM_MNI_152);
  EXPECT_EQ(g.pixdim[3], 3.0f);

  ImageGeometry untouched = defaultGeometry(1, 1, 1);
  EXPECT_FALSE(readImageGeometry("plain.hdr", 4, 3, 2, untouched));
  EXPECT_FALSE(readImageGeometry("pair.hdr", 4, 2, 3, untouched));
  EXPECT_FALSE(readImageGeometry("absent.nii", 4, 3, 2, untouched));
  EXPECT_EQ(untouched.qformCode, 0);
  EXPECT_EQ(untouched.sformCode, 0);
  EXPECT_EQ(untouched.pixdim[1], 1.0f);
  EXPECT_EQ(untouched.pixdim[0], 0.0f);
  EXPECT_EQ(untouched.xyztUnits, 10);
}

// A single-slice study: the subjects are 2-D images (dim[0] = 2), the list says Z = 1.
TEST(ImgIoGeometry, TwoDimensionalSubjectMatchesAVolumeOfOneSlice) {
  ScopedTempDir dir;
  writeSubjectImage("slice.nii", 4, 3, 1, NIFTI_FTYPE_NIFTI1_1, 2);
  int swapped = 0;
  nifti_1_header *source = nifti_read_header("slice.nii", &swapped, 1);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->dim[0], 2);
  std::free(source);
  ImageGeometry g = defaultGeometry(1, 1, 1);
  ASSERT_TRUE(readImageGeometry("slice.nii", 4, 3, 1, g));
  EXPECT_EQ(g.sformCode, NIFTI_XFORM_MNI_152);
  EXPECT_EQ(g.pixdim[0], -1.0f);
  ImageGeometry untouched = defaultGeometry(1, 1, 1);
  EXPECT_FALSE(readImageGeometry("slice.nii", 4, 3, 2, untouched));
  EXPECT_EQ(untouched.sformCode, 0);
}

bool nibabelAvailable() {
  return std::system("/usr/bin/python3 -c 'import nibabel' >/dev/null 2>&1") == 0;
}

TEST(ImgIoNibabel, ResultImagesReadBackWithTheSubjectAffine) {
  if (!nibabelAvailable())
    GTEST_SKIP() << "python3 nibabel is not importable";
  ScopedTempDir dir;
  writeSubjectImage("s1.nii", 4, 3, 2, NIFTI_FTYPE_NIFTI1_1);
  ImageGeometry g = defaultGeometry(1, 1, 1);
  ASSERT_TRUE(readImageGeometry("s1.nii", 4, 3, 2, g));
  std::vector<float> map(24, 0.0f);
  map[1] = 75.0f;  // (1, 0, 0)
  map[23] = 33.0f; // (3, 2, 1)
  std::vector<unsigned char> labels(24, 0);
  labels[5] = 2; // (1, 1, 0)
  writeNiftiFile("map.hdr", "map.img", map.data(), "NIFTI_TYPE_FLOAT32", 4, 3, 2, 1, g);
  writeNiftiFile("lab.nii", "lab.nii", labels.data(), "NIFTI_TYPE_UINT8", 4, 3, 2, 1, g);
  const std::string script =
      "import nibabel as nib, numpy as np\n"
      "s = nib.load('s1.nii')\n"
      "ok = True\n"
      "for name, dtype in (('map.hdr', np.float32), ('lab.nii', np.uint8)):\n"
      "    im = nib.load(name)\n"
      "    ok &= im.shape == (4, 3, 2, 1) or im.shape == (4, 3, 2)\n"
      "    ok &= im.get_data_dtype() == dtype\n"
      "    ok &= float(im.dataobj.slope) == 1.0\n"
      "    ok &= np.allclose(im.affine, s.affine)\n"
      "    ok &= np.allclose(im.header.get_qform(), s.header.get_qform())\n"
      "    ok &= np.allclose(im.header.get_sform(), s.header.get_sform())\n"
      "m = np.asarray(nib.load('map.hdr').dataobj).reshape(4, 3, 2)\n"
      "l = np.asarray(nib.load('lab.nii').dataobj).reshape(4, 3, 2)\n"
      "ok &= m[1, 0, 0] == 75.0 and m[3, 2, 1] == 33.0 and m.sum() == 108.0\n"
      "ok &= l[1, 1, 0] == 2 and l.sum() == 2\n"
      "print('ok' if ok else 'mismatch')\n";
  testsupport::writeFile("check.py", script);
  ASSERT_EQ(testsupport::runCommand("/usr/bin/python3 check.py"), 0) << readFile("stderr.txt");
  EXPECT_EQ(readFile("stdout.txt"), "ok\n");
}

} // namespace
