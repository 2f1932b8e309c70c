#pragma once
// The study fingerprint and the merge's expectation read the plain way, every image decoded
// again from the list, against which the fingerprint of the decoded study is checked.
#include <string>

#include "data/study_reader.h"
#include "merge/shard_set.h"
#include "run/resampling_method.h"
#include "shard/fingerprint.h"
#include "util/hash.h"

namespace testsupport {

// Reads the list into `list` and decodes every image to compute the fingerprint; on failure
// returns false with a message naming the file.
inline bool fingerprintStudy(const std::string &listPath, FileList &list,
                             StudyFingerprint &fingerprint, std::string &error);

bool fingerprintStudy(const std::string &listPath, FileList &list, StudyFingerprint &fingerprint,
                      std::string &error) {
  if (ReadFailure failure =
          parseFileList(listPath, list, "cannot open file list " + listPath + "\n", false)) {
    error = failure.message;
    return false;
  }
  StudyFingerprint result;
  if (!hashFileBytes(listPath, result.listHash)) {
    error = "cannot read file list " + listPath + "\n";
    return false;
  }
  const long voxels = list.nodeCount - 1;
  std::vector<unsigned char> row(static_cast<std::size_t>(voxels) + 1);
  for (const SubjectEntry &subject : list.subjects) {
    ImageFingerprint image;
    if (!fileSizeOf(voxelFileOf(subject.path), image.fileSize)) {
      error = "cannot read image " + voxelFileOf(subject.path) + " (listed in " + listPath + ")\n";
      return false;
    }
    if (ReadFailure failure = loadSubjectRow(subject, voxels, row.data(), listPath)) {
      error = failure.message;
      return false;
    }
    image.voxelHash = fnv1a64(row.data(), static_cast<std::size_t>(voxels));
    result.images.push_back(image);
  }
  fingerprint = std::move(result);
  return true;
}

// What the shards of `method` and `size` on the study of `listPath` must match, read the plain
// way; false with a message naming the file.
inline bool expectationOfStudy(const std::string &listPath, int method, int size,
                               MergeExpectation &expected, std::string &error) {
  FileList list;
  MergeExpectation result;
  if (!fingerprintStudy(listPath, list, result.fingerprint, error))
    return false;
  result.method = method;
  result.sizeArgument = size;
  result.iterations = method == kJackknife ? static_cast<int>(list.subjectCount) : size;
  result.voxels = static_cast<std::uint64_t>(list.nodeCount - 1);
  expected = std::move(result);
  return true;
}

} // namespace testsupport
