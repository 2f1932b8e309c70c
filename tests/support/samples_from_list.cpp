#include "support/samples_from_list.h"

#include <cstdio>

#include "data/study_reader.h"
#include "util/fatal.h"

namespace {

[[noreturn]] void exitWith(const ReadFailure &problem) {
  torva::exitWithMessage(torva::kExitInputError, problem.toStdout ? stdout : stderr,
                         problem.message);
}

// Loads the subjects at `positions` of `list` as cases 0, 1, ... of `samples`, printing one
// subject line each with `lineFormat` (id, path, fv), then turns the states into the
// character cells '0' + state.
void loadSubjects(Samples &samples, const FileList &list, const std::vector<int> &positions,
                  const char *listPath, const char *lineFormat) {
  samples.setSize(list.nodeCount, static_cast<long>(positions.size()));
  samples.setXYZSiz(list.x, list.y, list.z);
  const long voxels = list.nodeCount - 1;
  char *cells = samples.cellData();
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const int position = positions[k];
    if (position < 0 || position >= static_cast<int>(list.subjects.size()))
      torva::exitWithMessage(torva::kExitInputError, stderr,
                             "subject position " + std::to_string(position) +
                                 " is outside the file list " + listPath + "\n");
    const SubjectEntry &subject = list.subjects[position];
    std::printf(lineFormat, static_cast<int>(subject.id), subject.path.c_str(),
                static_cast<int>(subject.fv));
    auto *row = reinterpret_cast<unsigned char *>(cells + k * list.nodeCount);
    if (ReadFailure problem = loadSubjectRow(subject, voxels, row, listPath))
      exitWith(problem);
  }
  const std::size_t cellCount = positions.size() * static_cast<std::size_t>(list.nodeCount);
  for (std::size_t i = 0; i < cellCount; ++i)
    cells[i] = static_cast<char>(cells[i] + '0');
}

} // namespace

void readFilelistNifti(Samples &samples, const char *listPath) {
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "File not exist.\n", false))
    exitWith(problem);
  std::vector<int> positions(list.subjects.size());
  for (std::size_t k = 0; k < positions.size(); ++k)
    positions[k] = static_cast<int>(k);
  loadSubjects(samples, list, positions, listPath, "subject %d, file=%s, fv=%d\n");
}

void readFilelistSubsetNifti(Samples &samples, const char *listPath,
                             const std::vector<int> &positions) {
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "File not exist\n", true))
    exitWith(problem);
  loadSubjects(samples, list, positions, listPath, "subject %4d, file=%s, fv=%d\n");
}
