#include "shard/fingerprint.h"

#include <fstream>
#include <sys/stat.h>

#include "data/decoded_study.h"

bool fileSizeOf(const std::string &path, std::uint64_t &size) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool hashFileBytes(const std::string &path, std::uint64_t &hash) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  hash = kFnv1aStart;
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    hash = fnv1a64(buffer, static_cast<std::size_t>(in.gcount()), hash);
  }
  return in.eof();
}

// The .img file holds the voxels of an Analyze pair, so its size is the one that matters.
std::string voxelFileOf(const std::string &imagePath) {
  const auto dot = imagePath.rfind('.');
  if (dot != std::string::npos && imagePath.substr(dot) == ".hdr")
    return imagePath.substr(0, dot) + ".img";
  return imagePath;
}

bool fingerprintOfDecoded(const std::string &listPath, const DecodedStudy &study,
                          StudyFingerprint &fingerprint, std::string &error) {
  StudyFingerprint result;
  if (!hashFileBytes(listPath, result.listHash)) {
    error = "cannot read file list " + listPath + "\n";
    return false;
  }
  const std::vector<SubjectEntry> &subjects = study.list.subjects;
  if (study.voxelHashes.size() != subjects.size()) {
    error = "the study of " + listPath + " was decoded without its voxel hashes\n";
    return false;
  }
  for (std::size_t s = 0; s < subjects.size(); ++s) {
    ImageFingerprint image;
    if (!fileSizeOf(voxelFileOf(subjects[s].path), image.fileSize)) {
      error =
          "cannot read image " + voxelFileOf(subjects[s].path) + " (listed in " + listPath + ")\n";
      return false;
    }
    image.voxelHash = study.voxelHashes[s];
    result.images.push_back(image);
  }
  fingerprint = std::move(result);
  return true;
}
