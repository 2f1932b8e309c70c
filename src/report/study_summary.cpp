#include "report/study_summary.h"

#include "data/study_reader.h"
#include "util/stop_signal.h"

std::string loadStudySummary(const std::string &listPath, const Volume &grid,
                             const std::string &gridPath, const std::vector<long> &representatives,
                             StudySummary &summary) {
  summary = StudySummary{};
  FileList list;
  if (ReadFailure problem =
          parseFileList(listPath, list, "file list " + listPath + " is missing\n", false))
    return problem.message;
  if (list.x != grid.x || list.y != grid.y || list.z != grid.z)
    return "file list " + listPath + " describes a " + std::to_string(list.x) + " x " +
           std::to_string(list.y) + " x " + std::to_string(list.z) +
           " study, but the result image " + gridPath + " is " + grid.sizeText() + "\n";
  const long voxels = grid.voxels();
  summary.subjects = list.subjectCount;
  summary.overlap.assign(static_cast<std::size_t>(voxels), 0);
  summary.regions.assign(representatives.size(), OutcomeSplit{});
  std::vector<unsigned char> row(static_cast<std::size_t>(voxels) + 1);
  for (const SubjectEntry &subject : list.subjects) {
    if (torva::stopRequested())
      return "stopped while reading the subjects of " + listPath + "\n";
    if (ReadFailure problem = loadSubjectRow(subject, voxels, row.data(), listPath))
      return problem.message;
    long lesioned = 0;
    for (long v = 0; v < voxels; ++v) {
      summary.overlap[v] += row[v];
      lesioned += row[v];
    }
    summary.ids.push_back(subject.id);
    summary.lesionVoxels.push_back(lesioned);
    const bool outcome1 = row[voxels] == 1;
    for (std::size_t r = 0; r < representatives.size(); ++r) {
      OutcomeSplit &split = summary.regions[r];
      if (row[representatives[r]] == 1) {
        ++split.lesioned;
        split.outcome1Lesioned += outcome1;
      } else {
        ++split.spared;
        split.outcome1Spared += outcome1;
      }
    }
  }
  return std::string();
}
