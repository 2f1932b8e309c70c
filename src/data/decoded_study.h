#pragma once
// A whole study decoded once per run: the subject file list and, for every node (the voxels in
// storage order, then the function variable), one bit per subject in list order. Every
// resampling iteration is a view over it (data/study_view.h), so no image is read twice and no
// iteration allocates anything of the study's size.
#include <cstdint>
#include <string>
#include <vector>

#include "data/packed_study.h"
#include "data/study_reader.h"

struct DecodedStudy {
  FileList list;
  PackedStudy subjects; // case s is the subject at list position s
  // With hashVoxels, per subject the FNV-1a hash of its decoded states, one byte (0 or 1) per
  // voxel, which identifies the study of a shard.
  std::vector<std::uint64_t> voxelHashes;
};

// Reads the list at `listPath` and decodes every image on up to `threads` threads, with the
// checks and messages of loadSubjectRow. On failure returns the problem of the first failing
// subject in list order (or of the list itself) and leaves `study` incomplete.
ReadFailure decodeStudy(const std::string &listPath, int threads, DecodedStudy &study,
                        bool hashVoxels = false);
