#pragma once
// A consistent shard file for the tests of its codec and of the merge's set check.
#include <cstdint>
#include <vector>

#include "run/resampling_method.h"
#include "shard/shard_file.h"

namespace testsupport {

// A consistent shard K of N of a 10-iteration bootstrap over `voxels` voxels.
inline ShardFile sampleShard(int k, int n, std::uint64_t voxels = 6) {
  ShardFile shard;
  shard.fingerprint.listHash = 0x1234567890abcdefull;
  shard.fingerprint.images = {{352, 11}, {352, 22}, {400, 0xffffffffffffffffull}};
  shard.method = kBootstrap;
  shard.sizeArgument = 10;
  shard.iterations = 10;
  shard.shard = {k, n};
  shard.voxels = voxels;
  const IterationRange range = shardRange(shard.iterations, shard.shard);
  for (int P = range.first; P < range.last; ++P) {
    shard.records.push_back(makeModelRecord(P, {P + 1, 3}));
    std::vector<int> labels(voxels, -9);
    labels[static_cast<std::size_t>(P) % voxels] = P % 21;
    labels[0] = -1;
    shard.labels.push_back(encodeLabelRuns(labels));
    // Out of bag: the subjects after the iteration's number, one of them at p = 1.
    IterationPredictions predictions;
    for (int subject = P % 3; subject < 3; ++subject)
      predictions.push_back({subject, subject == 2 ? 1.0 : 0.05 * P + 0.0625 * subject});
    shard.predictions.push_back(predictions);
  }
  shard.hasRunLog = range.last == shard.iterations;
  if (shard.hasRunLog)
    shard.runLog = "TORVA Log\nsample_length 10\n";
  return shard;
}

} // namespace testsupport
