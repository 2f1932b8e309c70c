#include "permute/permute_inputs.h"

#include <nifti1_io.h>

#include <cstdlib>
#include <sys/stat.h>

#include "data/decoded_study.h"
#include "results/result_files.h"

namespace {

std::string inFolder(const std::string &dir, const std::string &name) {
  return dir.empty() || dir == "." ? name : dir + "/" + name;
}

std::string gridText(long x, long y, long z) {
  return std::to_string(x) + " x " + std::to_string(y) + " x " + std::to_string(z);
}

// The R-SET against the volume and the study: ids inside it, and the logged states of every
// representative those of the study's subjects.
std::string checkRepresentatives(const std::string &path, const VariableLog &log,
                                 const DecodedStudy &study) {
  const long voxels = study.list.nodeCount - 1;
  const long subjects = static_cast<long>(study.list.subjects.size());
  if (!log.representatives.empty() && log.subjects() != subjects)
    return path + ": holds the states of " + std::to_string(log.subjects()) +
           " subjects, but the file list has " + std::to_string(subjects) + "\n";
  for (std::size_t r = 0; r < log.representatives.size(); ++r) {
    const long index = log.representatives[r];
    if (index < 0 || index >= voxels)
      return path + ": R-SET voxel id " + std::to_string(index + 1) + " lies outside the " +
             std::to_string(voxels) + " voxels of the study\n";
    const std::uint64_t *bits = study.subjects.node(index);
    for (long s = 0; s < subjects; ++s) {
      const char state = ((bits[s / 64] >> (s % 64)) & 1U) ? '1' : '0';
      if (log.cells[r][s] != state)
        return path + ": voxel id " + std::to_string(index + 1) + " is in state " +
               log.cells[r][s] + " for subject " + std::to_string(s + 1) +
               " of the list, but the study's image has " + state +
               "; the results are not of this study\n";
    }
  }
  return std::string();
}

// Geometry of label_field_torvael.nii when present (its grid must be the study's); else that
// of the first subject's image, as the analysis wrote it.
std::string resultGeometry(const std::string &dir, const DecodedStudy &study,
                           ImageGeometry &geometry) {
  const FileList &list = study.list;
  geometry = defaultGeometry(1.0f, 1.0f, 1.0f);
  const std::string path = inFolder(dir, "label_field_torvael.nii");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (!list.subjects.empty())
      readImageGeometry(list.subjects.front().path, list.x, list.y, list.z, geometry);
    return std::string();
  }
  int swapped = 0;
  nifti_1_header *header = nifti_read_header(path.c_str(), &swapped, 0);
  if (header == nullptr)
    return path + ": not a readable NIfTI-1 header\n";
  const long x = header->dim[1];
  const long y = header->dim[0] >= 2 ? header->dim[2] : 1;
  const long z = header->dim[0] >= 3 ? header->dim[3] : 1;
  std::free(header);
  if (x != list.x || y != list.y || z != list.z)
    return path + ": the results are on a " + gridText(x, y, z) + " grid, the study on " +
           gridText(list.x, list.y, list.z) + "\n";
  readImageGeometry(path, list.x, list.y, list.z, geometry);
  return std::string();
}

} // namespace

std::string readRunRegions(const std::string &dir, const DecodedStudy &study, RunRegions &run) {
  run = RunRegions{};
  const long voxels = study.list.nodeCount - 1;
  const std::string logPath = inFolder(dir, "log.el.torva");
  const std::string roiPath = inFolder(dir, "roi.el.torva");
  std::string text;
  VariableLog log;
  RoiField roi;
  std::string problem = readResultText(logPath, text);
  if (problem.empty())
    problem = parseVariableLog(logPath, text, log);
  if (problem.empty())
    problem = readResultText(roiPath, text);
  if (problem.empty())
    problem = parseRoiField(roiPath, text, roi);
  if (!problem.empty())
    return problem;
  if (static_cast<long>(roi.labels.size()) != voxels)
    return roiPath + ": labels " + std::to_string(roi.labels.size()) +
           " voxels, but the study's grid " + gridText(study.list.x, study.list.y, study.list.z) +
           " has " + std::to_string(voxels) + "\n";
  if (roi.regions != static_cast<int>(log.representatives.size()))
    return roiPath + ": holds " + std::to_string(roi.regions) + " regions, but the R-SET of " +
           logPath + " has " + std::to_string(log.representatives.size()) + " voxels\n";
  if (problem = checkRepresentatives(logPath, log, study); !problem.empty())
    return problem;
  if (problem = resultGeometry(dir, study, run.geometry); !problem.empty())
    return problem;
  for (const long index : log.representatives)
    run.representatives.push_back(static_cast<int>(index + 1));
  run.labels = std::move(roi.labels);
  return std::string();
}
