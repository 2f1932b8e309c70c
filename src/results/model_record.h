#pragma once
#include <array>
#include <vector>

// One iteration's model: slot 0 the iteration, slot 1 the number R of representative voxels,
// slots 2 .. 21 their 1-based voxel ids in the order found, then -1.
constexpr int kModelRecordSlots = 22;
constexpr int kModelRecordIds = kModelRecordSlots - 2;
using ModelRecord = std::array<int, kModelRecordSlots>;

ModelRecord makeModelRecord(int iteration, const std::vector<int> &representatives);
