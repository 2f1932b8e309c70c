#pragma once
// The study fingerprint a shard carries and the merge compares: the list file's bytes, and per
// subject its image file size and decoded voxels.
#include <cstdint>
#include <string>
#include <vector>

#include "util/hash.h"

struct DecodedStudy;

struct ImageFingerprint {
  std::uint64_t fileSize = 0;
  std::uint64_t voxelHash = 0; // fnv1a64 over the decoded 0/1 states, one byte per voxel
  bool operator==(const ImageFingerprint &other) const {
    return fileSize == other.fileSize && voxelHash == other.voxelHash;
  }
};

// Identifies the study of a run: the list file's bytes, and per subject in list order its image
// file size and decoded voxels.
struct StudyFingerprint {
  std::uint64_t listHash = 0;
  std::vector<ImageFingerprint> images;
  bool operator==(const StudyFingerprint &other) const {
    return listHash == other.listHash && images == other.images;
  }
};

// The same fingerprint from a study decoded with its voxel hashes (decodeStudy with
// hashVoxels), so that a shard or a merge reads every image only once.
bool fingerprintOfDecoded(const std::string &listPath, const DecodedStudy &study,
                          StudyFingerprint &fingerprint, std::string &error);

// The file that holds an image's voxels: the ".img" of a ".hdr" name, else the path itself.
std::string voxelFileOf(const std::string &imagePath);

// Size of the file at `path` in bytes; false when it cannot be read.
bool fileSizeOf(const std::string &path, std::uint64_t &size);

// Hash of a whole file's bytes; false when it cannot be read.
bool hashFileBytes(const std::string &path, std::uint64_t &hash);
