// Filling a Samples from a subject file list.
#include <cstdio>

#include "data/samples.h"
#include "data/study_reader.h"
#include "util/fatal.h"

namespace {

[[noreturn]] void exitWith(const ReadFailure &problem) {
  torva::exitWithMessage(torva::kExitInputError, problem.toStdout ? stdout : stderr,
                         problem.message);
}

} // namespace

void Samples::readFilelistNifti(const char *listPath) {
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "File not exist.\n", false))
    exitWith(problem);
  std::vector<int> positions(list.subjects.size());
  for (std::size_t k = 0; k < positions.size(); ++k)
    positions[k] = static_cast<int>(k);
  setSize(list.nodeCount, static_cast<long>(positions.size()));
  setXYZSiz(list.x, list.y, list.z);
  const long voxels = list.nodeCount - 1;
  for (std::size_t c = 0; c < list.subjects.size(); ++c) {
    const SubjectEntry &subject = list.subjects[c];
    std::printf("subject %d, file=%s, fv=%d\n", static_cast<int>(subject.id), subject.path.c_str(),
                static_cast<int>(subject.fv));
    auto *row = reinterpret_cast<unsigned char *>(cellData() + c * list.nodeCount);
    if (ReadFailure problem = loadSubjectRow(subject, voxels, row, listPath))
      exitWith(problem);
  }
  for (char &value : cells)
    value = static_cast<char>(value + '0');
}

void Samples::readFilelistSubsetNifti(const char *listPath, const std::vector<int> &positions) {
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "File not exist\n", true))
    exitWith(problem);
  setSize(list.nodeCount, static_cast<long>(positions.size()));
  setXYZSiz(list.x, list.y, list.z);
  const long voxels = list.nodeCount - 1;
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const int position = positions[k];
    if (position < 0 || position >= static_cast<int>(list.subjects.size()))
      torva::exitWithMessage(torva::kExitInputError, stderr,
                             "subject position " + std::to_string(position) +
                                 " is outside the file list " + listPath + "\n");
    const SubjectEntry &subject = list.subjects[position];
    std::printf("subject %4d, file=%s, fv=%d\n", static_cast<int>(subject.id), subject.path.c_str(),
                static_cast<int>(subject.fv));
    auto *row = reinterpret_cast<unsigned char *>(cellData() + k * list.nodeCount);
    if (ReadFailure problem = loadSubjectRow(subject, voxels, row, listPath))
      exitWith(problem);
  }
  for (char &value : cells)
    value = static_cast<char>(value + '0');
}
