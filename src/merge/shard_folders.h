#pragma once
// The merge's view of the shard folders it is given: read every folder's shard file, then, once
// checkShardSet has accepted them, put their iterations back into one run's order.
#include <string>
#include <vector>

#include "merge/shard_set.h"

struct DecodedStudy;
namespace torva {
class ProgressLine;
}

// What the shards of `method` and `size` on the study of `listPath` must match, from the study
// the merge decoded itself with its voxel hashes: its fingerprint, its voxel count, and the
// iteration count, the subject count for the jackknife. On failure returns false with a message
// naming the file.
bool expectationOfStudy(const std::string &listPath, const DecodedStudy &study, int method,
                        int size, MergeExpectation &expected, std::string &error);

// Reads <folder>/shard.torva of every folder, in the order given; unreadable files are kept
// with their error for checkShardSet to report. Every folder read advances `line`.
std::vector<FoundShard> readShardFolders(const std::vector<std::string> &folders,
                                         torva::ProgressLine *line = nullptr);

// The resampling results of the whole run, as the ensemble step needs them.
struct MergedRun {
  std::vector<ModelRecord> records;              // every iteration, in order
  std::vector<LabelRuns> labels;                 // every iteration's label field, in order
  std::vector<IterationPredictions> predictions; // every iteration's, in order
  std::string runLog;                            // the last iteration's log.torva
};

// Starts the run log as the loop of a whole run leaves it: the last iteration's log (where the
// run log goes, util/progress.h).
void startMergedRunLog(const MergedRun &run);

// Joins shards that checkShardSet accepted, in shard order whatever the folder order; moves
// their contents out of `shards`.
MergedRun joinShards(std::vector<FoundShard> &shards);
