#pragma once
// A run split into shards: shard K of N runs a contiguous range of the resampling iterations
// and keeps its model records, label fields and held-out predictions in "shard.torva"; the shards
// of one run, merged, give the whole run's ensemble.
#include <cstdint>
#include <string>
#include <vector>

#include "driver/label_runs.h"
#include "driver/model_record.h"
#include "evidence/heldout_prediction.h"
#include "roi/roi_settings.h"
#include "util/hash.h"

struct DecodedStudy;
struct FileList;

constexpr const char *kShardVariable = "TORVA_SHARD";
constexpr const char *kShardFile = "shard.torva";

struct ShardPosition {
  int index = 0; // K
  int count = 1; // N
};

// Parses `text` as "K/N": whole decimal numbers, 0 <= K < N, nothing else. On failure returns
// false with a message naming TORVA_SHARD and the value.
bool parseShardPosition(const std::string &text, ShardPosition &position, std::string &error);

// Iterations [first, last) of one shard.
struct IterationRange {
  int first = 0;
  int last = 0;
  int size() const { return last - first; }
};

// Shard K of N gets [floor(K*I/N), floor((K+1)*I/N)) of I iterations: the ranges are contiguous,
// in order and cover every iteration once; their sizes differ by at most one. When N > I some
// shards are empty, never the last one, which therefore always holds the last iteration.
IterationRange shardRange(int iterations, const ShardPosition &position);

// Keeps the draws of iterations [range.first, range.last) out of `draws`, which holds those of
// iterations 0 .. range.last-1 in order. A shard must make every earlier iteration's draws too,
// since each bootstrap draw advances the one seeded random sequence.
std::vector<std::vector<int>> keepShardDraws(std::vector<std::vector<int>> draws,
                                             const IterationRange &range);

// The subject positions of every iteration of `range`, drawn as the whole run draws them after
// srand(0): chooseSubjects for iterations 0 .. range.last-1 in order, the earlier ones discarded.
std::vector<std::vector<int>> drawShardSubjects(int method, int subjects,
                                                const IterationRange &range);

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

// Reads the list into `list` and decodes every image to compute the fingerprint; on failure
// returns false with a message naming the file.
bool fingerprintStudy(const std::string &listPath, FileList &list, StudyFingerprint &fingerprint,
                      std::string &error);

// Contents of shard.torva.
struct ShardFile {
  StudyFingerprint fingerprint;
  int method = 0;
  int sizeArgument = 0; // the command's third argument, as given
  int iterations = 0;   // of the whole run
  ShardPosition shard;
  std::uint64_t voxels = 0; // length of every label field
  // The norm test's share the shard's iterations ran with (torva.configure); a shard file of
  // version 2, from before the setting, ran with the default.
  double representativeShare = kDefaultRepresentativeShare;
  std::vector<ModelRecord> records; // one per iteration of the shard's range, in order
  std::vector<LabelRuns> labels;    // one per iteration of the shard's range, in order
  // What each iteration of the range predicted for the subjects it did not draw, in order.
  std::vector<IterationPredictions> predictions;
  bool hasRunLog = false; // only the shard holding the last iteration
  std::string runLog;     // the last iteration's log.torva
};

// Writes `shard` to `path` through a temporary file renamed into place, so an interrupted shard
// leaves no partial file. Refuses contents the reader would refuse.
bool writeShardFile(const std::string &path, const ShardFile &shard, std::string &error);

// Reads and checks a shard file: magic, version, payload checksum, lengths against the bytes
// present, record and label counts against the shard's range. No allocation exceeds what the
// file's size allows.
bool readShardFile(const std::string &path, ShardFile &shard, std::string &error);

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
