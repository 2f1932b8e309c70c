#pragma once
// The merge's check that the shard files it was given are exactly the shards of one run.
#include <cstdint>
#include <string>
#include <vector>

#include "roi/roi_settings.h"
#include "shard/shard_file.h"

// One shard as the merge found it in a folder it was given.
struct FoundShard {
  std::string folder;
  bool readable = false;
  std::string readError; // when not readable
  ShardFile file;
  // Signs that the shard's last run there did not finish: the run folders it left (or that a
  // run still going holds), and no shard file at all in a folder that exists.
  std::vector<std::string> runFolders;
  bool running = false; // a live run holds one of them
  bool fileMissing = false;
  bool finished() const { return runFolders.empty() && !fileMissing; }
};

// What the merge itself computed, that every shard must match.
struct MergeExpectation {
  StudyFingerprint fingerprint;
  int method = 0;
  int sizeArgument = 0;
  int iterations = 0;
  std::uint64_t voxels = 0;
  double representativeShare = kDefaultRepresentativeShare; // of the merge's torva.configure
};

// Checks that `shards` are exactly the N shards of one run of this study, method and size, in
// any folder order. Returns an empty string, or the problems naming the folder: first every
// folder whose shard did not finish ("shard 3 of 5 (torva_shards/shard_3) did not finish: ...",
// or "shard folder ... did not finish: ..." where the other shards do not tell which shard it
// is), else the first of: an unreadable, corrupt or truncated file; another study, method, size,
// representativeShare or shard count; a duplicate or extra shard; a missing shard.
std::string checkShardSet(const std::vector<FoundShard> &shards, const MergeExpectation &expected);
