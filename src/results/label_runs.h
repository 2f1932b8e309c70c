#pragma once
// An iteration's label field as runs of equal labels. A field is mostly long stretches of
// "outside" and "no region", so its runs are a few hundred kilobytes where the field itself is
// tens of megabytes at 1 mm: every iteration's field is kept this way until the ensemble step.
#include <cstdint>
#include <vector>

// `length` voxels of `value`, in voxel order.
struct LabelRun {
  int value = 0;
  std::uint64_t length = 0;
};
using LabelRuns = std::vector<LabelRun>;

LabelRuns encodeLabelRuns(const std::vector<int> &labels);
// The runs of a read shard sum to its voxel count, which only checkShardSet compares with the
// study's: expand the fields of accepted shards only.
void decodeLabelRuns(const LabelRuns &runs, std::vector<int> &labels);
