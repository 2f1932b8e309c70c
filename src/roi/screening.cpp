#include "roi/screening.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

#include "data/samples.h"
#include "data/study_view.h"
#include "util/fatal.h"
#include "util/file_checks.h"

namespace {

void takeAllVoxels(std::vector<int> &V, long voxels) {
  V.resize(static_cast<std::size_t>(voxels));
  for (long v = 0; v < voxels; ++v)
    V[v] = static_cast<int>(v + 1);
}

bool fileIsPresent(const char *path) {
  struct stat info {};
  return ::stat(path, &info) == 0;
}

std::string shownValue(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// The norm threshold is checked here, before the screening's own check ends the process, so
// that the refusal can name the setting and the file.
void checkNormThreshold(double th, long cases, std::ostream &out) {
  if (th >= 0 && th <= cases)
    return;
  out << (th < 0 ? "Error: th MUST be greater than 0\n"
                 : "Error: th MUST be less than sample size\n");
  out.flush();
  torva::exitWithMessage(torva::kExitInputError, stderr,
                         std::string(kConfigurationFile) + ": normThreshold " + shownValue(th) +
                             " of masking method 1 must lie in 0 .. " + std::to_string(cases) +
                             ", the number of cases of an iteration\n");
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
  const std::string kind = torva::nonRegularKind(path);
  if (!kind.empty())
    return std::string(path) + " is " + kind + ", not a regular file; the mask needs one byte " +
           "per voxel, " + std::to_string(voxels) + " voxels\n";
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

std::string segmentationCountProblem(int segmentationCount, long voxels, long candidates) {
  const std::string setting =
      std::string(kConfigurationFile) + ": segmentationCount " + std::to_string(segmentationCount);
  if (segmentationCount > voxels + 1)
    return setting + " is more than the study's " + std::to_string(voxels + 1) +
           " nodes; a region cannot have more clusters than voxels\n";
  if (segmentationCount < 2)
    return std::string();
  // Per cluster: a message per neighbour (about 20 directed edges per voxel, two copies) and a
  // belief per voxel; plus the K x K compatibility table.
  const auto k = static_cast<std::uint64_t>(segmentationCount);
  const std::uint64_t perCluster =
      torva::saturatingProduct(static_cast<std::uint64_t>(candidates), 2 * 20 + 2);
  const std::uint64_t need =
      torva::saturatingProduct(8, torva::saturatingProduct(k, perCluster + k));
  const std::string problem = torva::memoryNeedProblem(
      need, setting + ": segmenting " + std::to_string(candidates) + " candidate voxels");
  return problem.empty() ? problem : problem + "\n";
}

std::string neighbourhoodFileProblem(int neighborhoodType) {
  if (neighborhoodType == 0)
    return std::string();
  const std::string problem = torva::inputFileProblem(kNeighbourhoodFile, "neighbourhood file");
  if (problem.empty())
    return problem;
  return problem + " (" + kConfigurationFile + " sets neighborhoodType " +
         std::to_string(neighborhoodType) + ", which reads it)\n";
}

namespace {

long caseCountOf(const Samples &study) {
  long nodes = 0;
  long cases = 0;
  study.getSize(nodes, cases);
  return cases;
}

long caseCountOf(const StudyView &study) { return study.cases(); }

template <class Study>
void formCandidates(std::vector<int> &V, std::vector<int> &labels, const Study &study,
                    const RoiSettings &settings, std::ostream &out) {
  const long voxels = static_cast<long>(labels.size());
  const long cases = caseCountOf(study);
  if (const std::string problem = segmentationCountProblem(settings.segmentationCount, voxels, 0);
      !problem.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr, problem);
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
    checkNormThreshold(settings.normThreshold, cases, out);
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
  // Checked before the run log is started, so that a refused run leaves the earlier log.
  std::string problem =
      segmentationCountProblem(settings.segmentationCount, voxels, static_cast<long>(V.size()));
  if (problem.empty())
    problem = neighbourhoodFileProblem(settings.neighborhoodType);
  if (!problem.empty()) {
    out.flush();
    if (settings.neighborhoodType != 0 && !problem.empty() && !fileIsPresent(kNeighbourhoodFile))
      out << "File nhbd_system.torva not exist\n"; // the segmentation's own text
    out.flush();
    torva::exitWithMessage(torva::kExitInputError, stderr, problem);
  }
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
