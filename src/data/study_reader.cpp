#include "data/study_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <type_traits>

#include <nifti1_io.h>
#include <sys/stat.h>

#include "data/nifti_reader.h"
#include "data/nifti_voxels.h"
#include "util/file_checks.h"
#include "util/whole_number.h"

namespace {

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

template <typename T> void convertIntegers(const T *values, long count, unsigned char *row) {
  for (long i = 0; i < count; ++i)
    row[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(values[i]) & 0xFFu);
}

// Binary maps hold exactly 0 and 1, which a branch-free pass converts; a block holding any
// other value is converted again by the general rule, so the result is the same either way.
template <typename T> void convertFloats(const T *values, long count, unsigned char *row) {
  constexpr long kBlock = 4096;
  for (long start = 0; start < count; start += kBlock) {
    const long end = std::min(count, start + kBlock);
    unsigned plain = 1;
    for (long i = start; i < end; ++i) {
      const T v = values[i];
      plain &= static_cast<unsigned>((v == T(0)) | (v == T(1)));
      row[i] = static_cast<unsigned char>(v == T(1));
    }
    if (plain == 0)
      for (long i = start; i < end; ++i)
        row[i] = stateOfFloat(static_cast<double>(values[i]));
  }
}

// Index of the first state above 1, or -1. Blocks are tested without an early exit, so that
// the test of a whole volume is vector code; only a block that fails is searched.
long firstNonBinaryState(const unsigned char *row, long count) {
  constexpr long kBlock = 4096;
  for (long start = 0; start < count; start += kBlock) {
    const long end = std::min(count, start + kBlock);
    unsigned char high = 0;
    for (long i = start; i < end; ++i)
      high |= static_cast<unsigned char>(row[i] & 0xFEu);
    if (high != 0)
      for (long i = start; i < end; ++i)
        if (row[i] > 1)
          return i;
  }
  return -1;
}

// Converts the first `count` stored voxels, unscaled; false for a type a study does not take
// (uint8, int16, int32, float32 and float64 only).
bool convertVoxels(const nifti_image &image, long count, unsigned char *row) {
  return visitStoredVoxels(image, count, [row](const auto *values, long n) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(values)>>;
    if constexpr (std::is_floating_point_v<T>) {
      convertFloats(values, n, row);
      return true;
    } else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                         std::is_same_v<T, std::int32_t>) {
      convertIntegers(values, n, row);
      return true;
    } else {
      return false;
    }
  });
}

// The image file itself: missing and unreadable files are the readers' own refusals (with the
// reason added); anything but a regular file is refused before the analysis, since opening a
// FIFO would block.
ReadFailure checkImageFile(const SubjectEntry &subject, const std::string &listPath) {
  const std::string &path = subject.path;
  const std::string context = subjectContext(subject, listPath);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return readerFailure("image file does not exist. \n" + context);
  if (!S_ISREG(info.st_mode))
    return failure("image " + path + " is " + torva::nonRegularKind(path) +
                   ", not a regular file\n" + context);
  const std::string problem = torva::inputFileProblem(path, "image");
  if (!problem.empty())
    return readerFailure("image file does not exist. \n" + problem + "\n" + context);
  return {};
}

// Extent i (1-based) of the image; extents past dim[0] are 1.
long extentOf(const nifti_image &image, int i) { return i <= image.dim[0] ? image.dim[i] : 1; }

std::string extentsText(long x, long y, long z) {
  return std::to_string(x) + " x " + std::to_string(y) + " x " + std::to_string(z);
}

// Voxels per volume must be the list's; a larger image read by its first voxels would be
// another geometry's data.
ReadFailure checkGeometry(const nifti_image &image, long voxels, const VolumeExtents *extents,
                          const SubjectEntry &subject, const std::string &listPath) {
  const long x = extentOf(image, 1);
  const long y = extentOf(image, 2);
  const long z = extentOf(image, 3);
  const long perVolume = x * y * z;
  const bool sameExtents =
      extents == nullptr || (x == extents->x && y == extents->y && z == extents->z);
  if (perVolume == voxels && sameExtents)
    return {};
  std::string needed = std::to_string(voxels) + " voxels";
  if (extents != nullptr)
    needed = extentsText(extents->x, extents->y, extents->z) + " (" + needed + ")";
  return failure("image " + subject.path + " has extents " + extentsText(x, y, z) + " (" +
                 std::to_string(perVolume) + " voxels per volume); the file list needs " + needed +
                 "\n" + subjectContext(subject, listPath));
}

// The data file (the .nii itself, or the .img of a pair) must hold every byte the header
// describes, and the memory to decode it must be within reason.
ReadFailure checkDataFile(const nifti_image &image, const SubjectEntry &subject,
                          const std::string &listPath) {
  const std::string context = subjectContext(subject, listPath);
  const std::uint64_t dataBytes = torva::saturatingProduct(image.nvox, image.nbyper);
  const std::string dataPath = image.iname != nullptr ? image.iname : subject.path;
  if (dataPath.size() > 3 && dataPath.compare(dataPath.size() - 3, 3, ".gz") == 0)
    return failure("image " + subject.path + ": its data file " + dataPath +
                   " is compressed; compressed images are not read\n" + context);
  const std::string problem = torva::inputFileProblem(dataPath, "image data file");
  if (!problem.empty())
    return failure("image " + subject.path + ": " + problem + "\n" + context);
  struct stat info {};
  ::stat(dataPath.c_str(), &info);
  const auto fileBytes = static_cast<std::uint64_t>(info.st_size);
  const auto offset = static_cast<std::uint64_t>(image.iname_offset < 0 ? 0 : image.iname_offset);
  if (offset > fileBytes)
    return failure("image " + subject.path + ": its data start at byte " + std::to_string(offset) +
                   " (vox_offset), past the end of " + dataPath + " (" + std::to_string(fileBytes) +
                   " bytes)\n" + context);
  if (dataBytes > fileBytes - offset)
    return failure("image " + subject.path + " is truncated: its header describes " +
                   std::to_string(image.nvox) + " voxels (" + torva::describeBytes(dataBytes) +
                   " of data) from byte " + std::to_string(offset) + ", but " + dataPath +
                   " holds " + std::to_string(fileBytes) + " bytes\n" + context);
  const std::string memory = torva::memoryNeedProblem(dataBytes, "image " + subject.path);
  if (!memory.empty())
    return failure(memory + "\n" + context);
  return {};
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
    if (!wholeNumberOf(token, value))
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

  const std::string memory =
      studyMemoryProblem(path, list.subjectCount, list.nodeCount, list.x, list.y, list.z);
  if (!memory.empty())
    return failure(memory);

  for (long k = 0; k < list.subjectCount; ++k) {
    SubjectEntry entry;
    std::string idToken;
    std::string fvToken;
    if (!(in >> idToken >> entry.path >> fvToken))
      return failure("file list " + path + " announces " + std::to_string(list.subjectCount) +
                     " subjects but holds only " + std::to_string(k) + " complete entries\n");
    if (!wholeNumberOf(idToken, entry.id) || !wholeNumberOf(fvToken, entry.fv))
      return failure("file list " + path + ": subject entry " + std::to_string(k + 1) + " ('" +
                     idToken + " " + entry.path + " " + fvToken +
                     "') needs an integer id and an integer function variable\n");
    if (entry.fv != 0 && entry.fv != 1)
      return failure("file list " + path + ": subject " + idToken + " has the function variable " +
                     fvToken + "; it must be 0 or 1\n");
    list.subjects.push_back(std::move(entry));
  }
  if (in >> token)
    list.extraEntriesWarning = "warning: file list " + path + " holds more entries than the " +
                               std::to_string(list.subjectCount) +
                               " it announces; only the first " +
                               std::to_string(list.subjectCount) + " are used\n";
  return {};
}

std::string studyMemoryProblem(const std::string &listPath, long subjects, long nodes, int x, int y,
                               int z) {
  // The decoded study holds one bit per subject and node; each thread adds its iteration's label
  // field, voxel values and label text, and an image being decoded (about 40 bytes per node for
  // two threads in all).
  const std::uint64_t words = (static_cast<std::uint64_t>(subjects) + 63) / 64;
  const std::uint64_t perNode = torva::saturatingProduct(words, 8) + 40;
  const std::uint64_t need = torva::saturatingProduct(static_cast<std::uint64_t>(nodes), perNode);
  const std::string problem = torva::memoryNeedProblem(
      need, "file list " + listPath + ": a study of " + std::to_string(subjects) + " subjects of " +
                std::to_string(x) + " x " + std::to_string(y) + " x " + std::to_string(z) +
                " voxels");
  return problem.empty() ? problem : problem + "\n";
}

ReadFailure loadSubjectRow(const SubjectEntry &subject, long voxels, unsigned char *row,
                           const std::string &listPath, const VolumeExtents *extents) {
  const std::string &path = subject.path;
  if (ReadFailure problem = checkImageFile(subject, listPath))
    return problem;
  if (!hasAcceptedExtension(path)) {
    ReadFailure problem = failure("Unknown image format\n" + subjectContext(subject, listPath));
    // A name without any extension is refused before the analysis; a foreign extension is the
    // reader's own refusal.
    problem.reportedByReader = path.find('.') != std::string::npos;
    return problem;
  }

  // Header first: the library zero-fills data missing from a short file, so the sizes are
  // checked before any voxel is read.
  NiftiImagePtr image = readNiftiHeader(path);
  if (!image)
    return readerFailure("** failed to read image from '" + path + "'\n");
  if (static_cast<long>(image->nvox) < voxels)
    return failure("image " + path + " has " + std::to_string(image->nvox) +
                   " voxels; the file list needs " + std::to_string(voxels) + "\n" +
                   subjectContext(subject, listPath));
  if (ReadFailure problem = checkGeometry(*image, voxels, extents, subject, listPath))
    return problem;
  if (ReadFailure problem = checkDataFile(*image, subject, listPath))
    return problem;
  // The file's length was checked above; a short read here means it changed or failed since.
  const std::string shortRead = loadNiftiData(*image, path);
  if (!shortRead.empty())
    return failure("image " + shortRead + "\n" + subjectContext(subject, listPath));
  if (!convertVoxels(*image, voxels, row))
    return readerFailure("cannot recognize the data type\n" + subjectContext(subject, listPath));
  const long i = firstNonBinaryState(row, voxels);
  if (i >= 0)
    return failure("image " + path + ": voxel index " + std::to_string(i) + " holds the state " +
                   std::to_string(row[i]) +
                   " after conversion; the images must be binary maps of 0 and 1\n"
                   "  (masks stored with a scale factor or as probabilities can be binarised "
                   "with torvacoreel-prepare)\n" +
                   subjectContext(subject, listPath));
  row[voxels] = static_cast<unsigned char>(subject.fv & 0xFF);
  return {};
}

ReadFailure validateStudy(const std::string &listPath, std::string &warning) {
  warning.clear();
  FileList list;
  if (ReadFailure problem = parseFileList(listPath, list, "File not exist.\n", false))
    return problem;
  warning = list.extraEntriesWarning;
  const long voxels = list.nodeCount - 1;
  const VolumeExtents extents{list.x, list.y, list.z};
  std::vector<unsigned char> row(static_cast<std::size_t>(list.nodeCount));
  for (const SubjectEntry &subject : list.subjects) {
    ReadFailure problem = loadSubjectRow(subject, voxels, row.data(), listPath, &extents);
    if (problem && !problem.reportedByReader)
      return problem;
  }
  return {};
}

ReadFailure validateStudy(const std::string &listPath) {
  std::string warning;
  return validateStudy(listPath, warning);
}
