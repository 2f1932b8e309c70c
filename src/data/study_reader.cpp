#include "data/study_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <nifti1_io.h>

namespace {

bool parseLong(const std::string &token, long &value) {
  if (token.empty())
    return false;
  errno = 0;
  char *end = nullptr;
  value = std::strtol(token.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

std::string subjectContext(const SubjectEntry &subject, const std::string &listPath) {
  std::ostringstream text;
  text << "  (subject " << subject.id << ", image " << subject.path << ", listed in " << listPath
       << ")\n";
  return text.str();
}

ReadFailure failure(const std::string &message) { return ReadFailure{message, false, false}; }

ReadFailure readerFailure(const std::string &message) { return ReadFailure{message, false, true}; }

bool hasAcceptedExtension(const std::string &path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos)
    return false;
  const std::string extension = path.substr(dot + 1);
  return extension == "img" || extension == "hdr" || extension == "nii";
}

struct NiftiImageDeleter {
  void operator()(nifti_image *image) const { nifti_image_free(image); }
};

template <typename T> void convertIntegers(const void *data, long count, unsigned char *row) {
  const T *values = static_cast<const T *>(data);
  for (long i = 0; i < count; ++i)
    row[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(values[i]) & 0xFFu);
}

template <typename T> void convertFloats(const void *data, long count, unsigned char *row) {
  const T *values = static_cast<const T *>(data);
  for (long i = 0; i < count; ++i)
    row[i] = stateOfFloat(static_cast<double>(values[i]));
}

// Converts the first `count` voxels by the image's data type; false for an unsupported type.
bool convertVoxels(const nifti_image &image, long count, unsigned char *row) {
  switch (image.datatype) {
  case DT_UINT8:
    convertIntegers<std::uint8_t>(image.data, count, row);
    return true;
  case DT_INT16:
    convertIntegers<std::int16_t>(image.data, count, row);
    return true;
  case DT_INT32:
    convertIntegers<std::int32_t>(image.data, count, row);
    return true;
  case DT_FLOAT32:
    convertFloats<float>(image.data, count, row);
    return true;
  case DT_FLOAT64:
    convertFloats<double>(image.data, count, row);
    return true;
  default:
    return false;
  }
}

} // namespace

unsigned char stateOfFloat(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 2147483648.0)
    return 0;
  const auto whole = static_cast<std::int64_t>(std::trunc(value));
  return static_cast<unsigned char>(static_cast<std::uint64_t>(whole) & 0xFFu);
}

ReadFailure parseFileList(const std::string &path, FileList &list, const std::string &openMessage,
                          bool openMessageToStdout) {
  list = FileList{};
  std::ifstream in(path);
  if (!in)
    return ReadFailure{openMessage, openMessageToStdout};

  std::string word;
  std::string token;
  auto readNumber = [&](long &value, const char *what) -> std::string {
    if (!(in >> token))
      return "file list " + path + " ends before its " + what + "\n";
    if (!parseLong(token, value))
      return "file list " + path + ": the " + what + " '" + token + "' is not an integer\n";
    return {};
  };
  std::string problem;
  long x = 0;
  long y = 0;
  long z = 0;
  in >> word;
  if (!(problem = readNumber(list.subjectCount, "subject count")).empty())
    return failure(problem);
  in >> word;
  if (!(problem = readNumber(list.nodeCount, "node count")).empty())
    return failure(problem);
  in >> word;
  if (!(problem = readNumber(x, "extent X")).empty() ||
      !(problem = readNumber(y, "extent Y")).empty() ||
      !(problem = readNumber(z, "extent Z")).empty())
    return failure(problem);
  in >> word >> word >> word;

  if (list.subjectCount < 1)
    return failure("file list " + path + " announces " + std::to_string(list.subjectCount) +
                   " subjects; a study needs at least one\n");
  if (x < 1 || y < 1 || z < 1 || x > 32767 || y > 32767 || z > 32767)
    return failure("file list " + path + ": the volume size " + std::to_string(x) + " x " +
                   std::to_string(y) + " x " + std::to_string(z) +
                   " is not usable (each extent must lie in 1 .. 32767)\n");
  list.x = static_cast<int>(x);
  list.y = static_cast<int>(y);
  list.z = static_cast<int>(z);
  const long voxels = x * y * z;
  if (list.nodeCount != voxels + 1)
    return failure("file list " + path + ": the node count " + std::to_string(list.nodeCount) +
                   " does not equal X*Y*Z+1 = " + std::to_string(voxels + 1) + " for the size " +
                   std::to_string(x) + " x " + std::to_string(y) + " x " + std::to_string(z) +
                   "\n");

  for (long k = 0; k < list.subjectCount; ++k) {
    SubjectEntry entry;
    std::string idToken;
    std::string fvToken;
    if (!(in >> idToken >> entry.path >> fvToken))
      return failure("file list " + path + " announces " + std::to_string(list.subjectCount) +
                     " subjects but holds only " + std::to_string(k) + " complete entries\n");
    if (!parseLong(idToken, entry.id) || !parseLong(fvToken, entry.fv))
      return failure("file list " + path + ": subject entry " + std::to_string(k + 1) + " ('" +
                     idToken + " " + entry.path + " " + fvToken +
                     "') needs an integer id and an integer function variable\n");
    if (entry.fv != 0 && entry.fv != 1)
      return failure("file list " + path + ": subject " + idToken + " has the function variable " +
                     fvToken + "; it must be 0 or 1\n");
    list.subjects.push_back(std::move(entry));
  }
  return {};
}

ReadFailure loadSubjectRow(const SubjectEntry &subject, long voxels, unsigned char *row,
                           const std::string &listPath) {
  const std::string &path = subject.path;
  if (std::FILE *probe = std::fopen(path.c_str(), "r")) {
    std::fclose(probe);
  } else {
    return readerFailure("image file does not exist. \n" + subjectContext(subject, listPath));
  }
  if (!hasAcceptedExtension(path)) {
    ReadFailure problem = failure("Unknown image format\n" + subjectContext(subject, listPath));
    // A name without any extension is refused before the analysis; a foreign extension is the
    // reader's own refusal.
    problem.reportedByReader = path.find('.') != std::string::npos;
    return problem;
  }

  std::unique_ptr<nifti_image, NiftiImageDeleter> image(nifti_image_read(path.c_str(), 1));
  if (!image || image->data == nullptr)
    return readerFailure("** failed to read image from '" + path + "'\n");
  if (static_cast<long>(image->nvox) < voxels)
    return failure("image " + path + " has " + std::to_string(image->nvox) +
                   " voxels; the file list needs " + std::to_string(voxels) + "\n" +
                   subjectContext(subject, listPath));
  if (!convertVoxels(*image, voxels, row))
    return readerFailure("cannot recognize the data type\n" + subjectContext(subject, listPath));
  for (long i = 0; i < voxels; ++i) {
    if (row[i] > 1)
      return failure("image " + path + ": voxel index " + std::to_string(i) + " holds the state " +
                     std::to_string(row[i]) +
                     " after conversion; the images must be binary maps of 0 and 1\n" +
                     subjectContext(subject, listPath));
  }
  row[voxels] = static_cast<unsigned char>(subject.fv & 0xFF);
  return {};
}

ReadFailure validateStudy(const std::string &listPath) {
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "File not exist.\n", false))
    return problem;
  const long voxels = list.nodeCount - 1;
  std::vector<unsigned char> row(static_cast<std::size_t>(list.nodeCount));
  for (const SubjectEntry &subject : list.subjects) {
    ReadFailure problem = loadSubjectRow(subject, voxels, row.data(), listPath);
    if (problem && !problem.reportedByReader)
      return problem;
  }
  return {};
}
