#pragma once
// A hand-made result folder of a 4 x 3 x 2 study of five subjects, small enough that every
// number of the report can be worked out by hand.
//
// Grid: voxel v = i + 4 j + 12 k. sform (code 4), LAS: x = -2 i + 10, y = 3 j - 20, z = 4 k + 30,
// so one voxel is 2 * 3 * 4 = 24 mm^3. The RAS variant has x = 2 i - 10. The qform is set to
// other numbers so that reading it instead of the sform shows.
//   region 1: voxels 0, 1, 4   (i, j, k) = (0,0,0) (1,0,0) (0,1,0), frequency 100, 100, 50
//   region 2: voxels 19, 23    (3,1,1) (3,2,1), frequency 25, 75
//   representatives: voxel 1 (region 1) and voxel 23 (region 2)
// Subjects s1..s5, outcome 1 1 0 0 1; lesioned at voxel 1: s1 s2 s3; at voxel 23: s1 s5.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/img_io.h"
#include "support/temp_dir.h"

namespace reportfixture {

constexpr int kX = 4;
constexpr int kY = 3;
constexpr int kZ = 2;

inline ImageGeometry resultGeometry(bool las) {
  ImageGeometry g = defaultGeometry(2.0f, 3.0f, 4.0f);
  g.sformCode = 4;
  g.qformCode = 1;
  g.qoffsetX = 500.0f;
  g.qoffsetY = 500.0f;
  g.qoffsetZ = 500.0f;
  const float sx[4] = {las ? -2.0f : 2.0f, 0.0f, 0.0f, las ? 10.0f : -10.0f};
  const float sy[4] = {0.0f, 3.0f, 0.0f, -20.0f};
  const float sz[4] = {0.0f, 0.0f, 4.0f, 30.0f};
  for (int c = 0; c < 4; ++c) {
    g.srowX[c] = sx[c];
    g.srowY[c] = sy[c];
    g.srowZ[c] = sz[c];
  }
  return g;
}

inline void writeImage(const std::string &path, const void *data, const char *type, int x, int y,
                       int z, bool las = true) {
  std::string error;
  ASSERT_TRUE(
      writeNiftiImage(path.c_str(), path.c_str(), data, type, x, y, z, resultGeometry(las), error))
      << error;
}

inline std::vector<int> regionLabels() {
  std::vector<int> labels(kX * kY * kZ, 0);
  labels[0] = labels[1] = labels[4] = 1;
  labels[19] = labels[23] = 2;
  return labels;
}

// Writes the result files of the two-region run into `dir` (which must exist).
inline void writeTwoRegionRun(const std::string &dir, bool las = true) {
  using testsupport::writeFile;
  writeFile(dir + "/model.el.torva", "model ensemble includes\n2 \ndifferent models\n"
                                     "model with highest frequency is model \n0 \nfreq=\n"
                                     "0.800000\nmodel freq=\n0.200000 0.800000 \n");
  writeFile(dir + "/log.el.torva", "Variable_list\n1\n1 1 1 0 0 \n23\n1 0 0 0 1 \nfv\n"
                                   "1 1 0 0 1 \nR-SET\n2 1 23 \n");
  writeFile(dir + "/log.torva", "TORVA Log\nsample_length 4\n");
  std::string roi = "2 24\n";
  for (const int label : regionLabels())
    roi += std::to_string(label) + " ";
  writeFile(dir + "/roi.el.torva", roi + "\n");
  // P(voxel 1 lesioned) = 0.6, P(voxel 23 lesioned) = 0.4; P(outcome 1 | configuration j) for
  // j = (voxel 1 state) + 2 (voxel 23 state) = 0.2, 0.6, 0.5, 0.9.
  writeFile(
      dir + "/bn.el.torva",
      "3\n2 2 2 \n0 \n0 \n2 0 1 \n2 0.4 0.6 \n2 0.6 0.4 \n8 0.8 0.4 0.5 0.1 0.2 0.6 0.5 0.9 \n");
  std::vector<float> percent(kX * kY * kZ, 0.0f);
  percent[0] = percent[1] = 100.0f;
  percent[4] = 50.0f;
  percent[19] = 25.0f;
  percent[23] = 75.0f;
  writeImage(dir + "/prob_map_torvael.nii", percent.data(), "NIFTI_TYPE_FLOAT32", kX, kY, kZ, las);
}

// A run whose most frequent model has no region.
inline void writeEmptyRun(const std::string &dir) {
  using testsupport::writeFile;
  writeFile(dir + "/model.el.torva", "model ensemble includes\n1 \ndifferent models\n"
                                     "model with highest frequency is model \n0 \nfreq=\n"
                                     "1.000000\nmodel freq=\n1.000000 \n");
  writeFile(dir + "/log.el.torva", "Variable_list\nfv\n1 1 0 0 1 \nR-SET\n0 \n");
  std::string roi = "0 24\n";
  for (int v = 0; v < kX * kY * kZ; ++v)
    roi += "0 ";
  writeFile(dir + "/roi.el.torva", roi + "\n");
  writeFile(dir + "/bn.el.torva", "1\n2 \n0 \n2 0.4 0.6 \n");
  const std::vector<float> percent(kX * kY * kZ, 0.0f);
  writeImage(dir + "/prob_map_torvael.nii", percent.data(), "NIFTI_TYPE_FLOAT32", kX, kY, kZ);
}

// Subject maps s1..s5.nii and the file list "study.list" in the current directory.
inline void writeStudy() {
  const int outcome[5] = {1, 1, 0, 0, 1};
  std::string list = "subjects 5\nnodes 25\nsize 4 3 2\nid file fv\n";
  for (int s = 0; s < 5; ++s) {
    std::vector<unsigned char> map(kX * kY * kZ, 0);
    map[1] = s < 3 ? 1 : 0;
    map[23] = (s == 0 || s == 4) ? 1 : 0;
    map[10] = 1; // every subject: the overlap's brightest voxel
    const std::string name = "s" + std::to_string(s + 1) + ".nii";
    writeImage(name, map.data(), "NIFTI_TYPE_UINT8", kX, kY, kZ);
    list += std::to_string(s + 1) + " " + name + " " + std::to_string(outcome[s]) + "\n";
  }
  testsupport::writeFile("study.list", list);
}

} // namespace reportfixture
