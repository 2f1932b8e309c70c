#pragma once
// Small random two-state studies packed as the analysis packs them, for the permutation tests.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "data/packed_study.h"

namespace evidencetest {

// Voxel patterns and the outcome as strings of '0'/'1', one character per subject.
struct TinyStudy {
  std::vector<std::string> voxels;
  std::string outcome;
  long cases() const { return static_cast<long>(outcome.size()); }
  long voxelCount() const { return static_cast<long>(voxels.size()); }

  void pack(PackedStudy &packed) const {
    packed.reset(voxelCount() + 1, cases());
    std::vector<unsigned char> states(static_cast<std::size_t>(voxelCount() + 1));
    for (long c = 0; c < cases(); ++c) {
      for (long v = 0; v < voxelCount(); ++v)
        states[v] = static_cast<unsigned char>(voxels[v][c] - '0');
      states[voxelCount()] = static_cast<unsigned char>(outcome[c] - '0');
      packed.setCase(c, states.data());
    }
  }
};

// `voxels` patterns of `cases` subjects, each cell 1 with probability p, and an outcome of
// exactly `ones` subjects with 1, in random positions.
inline TinyStudy randomStudy(std::mt19937 &random, long cases, long voxels, double p, long ones) {
  TinyStudy study;
  std::bernoulli_distribution cell(p);
  for (long v = 0; v < voxels; ++v) {
    std::string pattern(static_cast<std::size_t>(cases), '0');
    for (char &c : pattern)
      c = cell(random) ? '1' : '0';
    study.voxels.push_back(pattern);
  }
  study.outcome.assign(static_cast<std::size_t>(cases), '0');
  for (long c = 0; c < ones; ++c)
    study.outcome[c] = '1';
  std::shuffle(study.outcome.begin(), study.outcome.end(), random);
  return study;
}

inline std::vector<int> allIds(long voxels) {
  std::vector<int> ids;
  for (long v = 1; v <= voxels; ++v)
    ids.push_back(static_cast<int>(v));
  return ids;
}

} // namespace evidencetest
