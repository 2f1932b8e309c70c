#pragma once
// A study in which no region can be found, as in a whole-brain stroke study whose largest lesion
// overlap (96 of 618 subjects) stays below the 124 that a representative voxel needs: 20
// subjects on a 3 x 3 x 2 grid, no voxel lesioned in more than 3 of them, while a jackknife
// iteration's representative voxel must be lesioned in more than 3 of its 19 (the integer part
// of 19 / 5).
//
// Subjects 1 .. 10 have outcome 1, 11 .. 20 outcome 0. Voxels 0 .. 8 are lesioned in three
// outcome-1 subjects each (positions v, v + 1, (v + 4) mod 10), so they raise the outcome's
// score and reach the norm test; voxels 9 .. 17 in one subject of each outcome (positions
// v - 9 and v + 1).
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace testsupport {

constexpr int kLowOverlapSubjects = 20;
constexpr int kLowOverlapLargest = 3;

inline bool lowOverlapLesioned(int subject, int voxel) {
  if (voxel < 9)
    return subject == voxel || subject == voxel + 1 || subject == (voxel + 4) % 10;
  return subject == voxel - 9 || subject == voxel + 1;
}

// Writes folder/s01.nii .. s20.nii and folder/torva.prj.filelist with paths folder/sNN.nii.
inline bool writeLowOverlapStudy(const std::string &folder) {
  mkdir(folder.c_str(), 0755);
  std::string list = "subjects 20\nnodes 19\nsize 3 3 2\nid file fv\n";
  for (int s = 0; s < kLowOverlapSubjects; ++s) {
    std::vector<double> voxels(18);
    for (int v = 0; v < 18; ++v)
      voxels[v] = lowOverlapLesioned(s, v) ? 1 : 0;
    const std::string name = std::string(s < 9 ? "s0" : "s") + std::to_string(s + 1) + ".nii";
    if (!writeTestImage(folder + "/" + name, DT_UINT8, 3, 3, 2, voxels))
      return false;
    list += std::to_string(s + 1) + " " + folder + "/" + name + " " + (s < 10 ? "1" : "0") + "\n";
  }
  writeFile(folder + "/torva.prj.filelist", list);
  return true;
}

} // namespace testsupport
