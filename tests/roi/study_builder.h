#pragma once
// Builds small studies for the region-learner tests: voxel patterns as strings of states, one
// character per case, and the function variable last.
#include <string>
#include <vector>

#include "data/samples.h"

namespace roitest {

// A study of extents (x, y, z) whose voxel node i has the cells of voxels[i] and whose last node
// has the cells of fv; all strings have one character ('0' + state) per case.
inline void makeStudy(Samples &study, int x, int y, int z, const std::vector<std::string> &voxels,
                      const std::string &fv) {
  const long cases = static_cast<long>(fv.size());
  const long nodes = static_cast<long>(voxels.size()) + 1;
  study.setSize(nodes, cases);
  study.setXYZSiz(x, y, z);
  for (long i = 0; i + 1 < nodes; ++i)
    study.setOneNode(voxels[i].data(), i);
  study.setOneNode(fv.data(), nodes - 1);
}

// The matrix whose case c is the case chosen[c] of `subjects`, as a resampling iteration reads
// it (repeats included).
inline void materialize(Samples &matrix, const Samples &subjects, const std::vector<int> &chosen) {
  long nodes = 0;
  long cases = 0;
  subjects.getSize(nodes, cases);
  std::vector<int> xyz;
  subjects.getXYZSiz(xyz);
  matrix.setSize(nodes, static_cast<long>(chosen.size()));
  matrix.setXYZSiz(xyz[0], xyz[1], xyz[2]);
  for (std::size_t c = 0; c < chosen.size(); ++c)
    for (long i = 0; i < nodes; ++i)
      matrix.setCell(static_cast<long>(c), i, subjects.cell(chosen[c], i));
}

} // namespace roitest
