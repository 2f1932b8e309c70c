#include "roi/screening.h"

#include <cstdio>
#include <fstream>
#include <ostream>

#include "data/samples.h"
#include "data/study_view.h"
#include "util/fatal.h"

namespace {

void takeAllVoxels(std::vector<int> &V, long voxels) {
  V.resize(static_cast<std::size_t>(voxels));
  for (long v = 0; v < voxels; ++v)
    V[v] = static_cast<int>(v + 1);
}

template <class Study>
void takeScreenedNodes(std::vector<int> &V, const Study &study, int type, double th) {
  study.pre_threshold(V, type, th);
  for (int &id : V)
    ++id; // node numbers become voxel ids
}

void takeMaskedVoxels(std::vector<int> &V, long voxels) {
  std::vector<signed char> mask;
  const std::string error = readMaskFile(kMaskFile, voxels, mask);
  if (!error.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr, error);
  V.clear();
  for (long v = 0; v < voxels; ++v) {
    if (mask[v] > 0) // signed bytes: 1 .. 127 select, 0 and 128 .. 255 do not
      V.push_back(static_cast<int>(v + 1));
  }
}

} // namespace

void prepareResultArrays(std::vector<int> &labels, std::vector<double> &voxelValues, long voxels) {
  labels.clear();
  voxelValues.clear();
  labels.resize(static_cast<std::size_t>(voxels), kLabelOutside);
  voxelValues.resize(static_cast<std::size_t>(voxels), -1.0);
}

std::string readMaskFile(const char *path, long voxels, std::vector<signed char> &bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::string(path) + ": cannot open the mask; it needs one byte per voxel, " +
           std::to_string(voxels) + " voxels\n";
  bytes.assign(static_cast<std::size_t>(voxels), 0);
  in.read(reinterpret_cast<char *>(bytes.data()), voxels);
  const long got = static_cast<long>(in.gcount());
  if (got < voxels)
    return std::string(path) + ": the mask holds " + std::to_string(got) +
           " bytes but the study has " + std::to_string(voxels) + " voxels (one byte per voxel)\n";
  return std::string();
}

namespace {

template <class Study>
void formCandidates(std::vector<int> &V, std::vector<int> &labels, const Study &study,
                    const RoiSettings &settings, std::ostream &out) {
  const long voxels = static_cast<long>(labels.size());
  switch (settings.maskMethod) {
  case -1:
    takeAllVoxels(V, voxels);
    break;
  case 0:
    out << "Remove all zero entries\n";
    takeScreenedNodes(V, study, 0, settings.normThreshold);
    break;
  case 1:
    out << "Remove voxels whose norm(V)<" << settings.normThreshold << '\n';
    out.flush(); // the threshold errors end the process from stdio
    takeScreenedNodes(V, study, 1, settings.normThreshold);
    break;
  case 99:
    out << "read mask.img\n";
    out.flush();
    takeMaskedVoxels(V, voxels);
    break;
  default:
    out << "Unknown masking method. Don't use masking\n";
    takeAllVoxels(V, voxels);
    break;
  }
  if (V.empty()) {
    out.flush();
    torva::exitWithMessage(torva::kExitEmptyCandidateSet, stdout,
                           "No voxels in the candidate set. Please check your masking method.\n");
  }
  for (const int id : V)
    labels[id - 1] = kLabelCandidate;
}

} // namespace

void formCandidateSet(std::vector<int> &V, std::vector<int> &labels, const Samples &study,
                      const RoiSettings &settings, std::ostream &out) {
  formCandidates(V, labels, study, settings, out);
}

void formCandidateSet(std::vector<int> &V, std::vector<int> &labels, const StudyView &study,
                      const RoiSettings &settings, std::ostream &out) {
  formCandidates(V, labels, study, settings, out);
}
