#pragma once
// One resampling iteration's sample matrix as a view over a study decoded once: case c is the
// subject chosen[c], so a subject drawn m times by the bootstrap counts m times. Nothing of the
// size of the study is copied; every count over the cases is a weighted popcount over the
// subjects' bits.
#include <cstdint>
#include <vector>

#include "data/packed_study.h"

class Samples;

class StudyView {
public:
  // `subjects` holds one case per subject (voxels in storage order, then the function variable)
  // and must outlive the view; x, y, z are the volume extents.
  StudyView(const PackedStudy &subjects, const std::vector<int> &chosen, int x, int y, int z);

  long cases() const { return static_cast<long>(chosenSubjects.size()); }
  long voxels() const { return static_cast<long>(xSize) * ySize * zSize; }
  // The function variable's node.
  long functionNode() const { return voxels(); }
  void getXYZSiz(std::vector<int> &v) const { v = {xSize, ySize, zSize}; }
  const PackedStudy &subjects() const { return packed; }
  const std::vector<int> &chosen() const { return chosenSubjects; }

  // Bit-plane j holds the subjects whose multiplicity has bit j set; a count over the cases is
  // sum_j 2^j * popcount(x & plane_j).
  int planeCount() const { return static_cast<int>(planes.size() / words()); }
  const std::uint64_t *plane(int j) const { return planes.data() + j * words(); }
  // Subjects chosen at least once.
  const std::uint64_t *selected() const { return selectedMask.data(); }
  int words() const { return packed.words(); }

  // Cases in which the node bits `a` are 1; in which both `a` and `b` are; in which they differ.
  long countOnes(const std::uint64_t *a) const;
  long countCommon(const std::uint64_t *a, const std::uint64_t *b) const;
  long countDifferent(const std::uint64_t *a, const std::uint64_t *b) const;
  // Whether `a` and `b` agree in every case.
  bool equalOnCases(const std::uint64_t *a, const std::uint64_t *b) const;

  // The column of `node` as cells '0' + state, case 0 first.
  void getOneNode(char *dst, long node) const;
  // `dst` becomes the listed nodes over the cases, as subset_node builds it from a full matrix.
  void subset(Samples &dst, const std::vector<int> &nodes) const;
  // As Samples::pre_threshold on the iteration's matrix.
  void pre_threshold(std::vector<int> &out, int type, double th) const;

private:
  const PackedStudy &packed;
  std::vector<int> chosenSubjects;
  int xSize;
  int ySize;
  int zSize;
  std::vector<std::uint64_t> planes;
  std::vector<std::uint64_t> selectedMask;
};
