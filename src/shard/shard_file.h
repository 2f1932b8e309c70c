#pragma once
// A run split into shards: shard K of N runs a contiguous range of the resampling iterations
// and keeps its model records, label fields and held-out predictions in "shard.torva"; the shards
// of one run, merged, give the whole run's ensemble.
#include <cstdint>
#include <string>
#include <vector>

#include "evidence/heldout_prediction.h"
#include "results/label_runs.h"
#include "results/model_record.h"
#include "roi/roi_settings.h"
#include "shard/fingerprint.h"
#include "shard/plan.h"

constexpr const char *kShardFile = "shard.torva";

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
