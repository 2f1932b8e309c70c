#include "merge/shard_set.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string shardName(const ShardFile &file) {
  return "shard " + std::to_string(file.shard.index) + " of " + std::to_string(file.shard.count);
}

// Differences of one readable shard from the merge's own run, or an empty string.
std::string runMismatch(const FoundShard &found, const MergeExpectation &expected) {
  const ShardFile &file = found.file;
  const std::string where = "shard folder " + found.folder + " holds a shard of ";
  if (!(file.fingerprint == expected.fingerprint))
    return where + "another study (the file list or an image differs)\n";
  if (file.method != expected.method)
    return where + "method " + std::to_string(file.method) + ", this merge is of method " +
           std::to_string(expected.method) + "\n";
  if (file.sizeArgument != expected.sizeArgument || file.iterations != expected.iterations)
    return where + "size " + std::to_string(file.sizeArgument) + " (" +
           std::to_string(file.iterations) + " iterations), this merge is of size " +
           std::to_string(expected.sizeArgument) + " (" + std::to_string(expected.iterations) +
           " iterations)\n";
  if (file.voxels != expected.voxels)
    return where + "label fields of " + std::to_string(file.voxels) + " voxels, the study has " +
           std::to_string(expected.voxels) + "\n";
  if (file.representativeShare != expected.representativeShare)
    return where + "a run with " + kRepresentativeShareLabel + " " +
           shareText(file.representativeShare) + ", this merge's " + kConfigurationFile +
           " gives " + shareText(expected.representativeShare) +
           "; run every shard and the merge with the same settings\n";
  return {};
}

// Why the shard of `found` did not finish, as the folder shows it.
std::string unfinishedReason(const FoundShard &found) {
  if (found.running)
    return "a run is still writing it (" + found.folder + "/" + found.runFolders.front() +
           " is in use); wait for it to end, then merge\n";
  if (!found.runFolders.empty())
    return "its run was stopped before it was done (it left " + found.folder + "/" +
           found.runFolders.front() + "); run that shard again\n";
  return "there is no " + std::string(kShardFile) +
         " in it (the shard never ran there, or was stopped before it began); run that shard\n";
}

// The shard the only unfinished folder was meant to hold, when the finished shards tell it: they
// agree on the shard count and leave exactly one shard out. Index -1 when they do not, or when no
// shard finished (the folders given need not be all the shards).
ShardPosition unfinishedPosition(const std::vector<FoundShard> &shards) {
  int count = 0;
  std::vector<bool> held;
  for (const FoundShard &found : shards) {
    if (!found.readable || !found.finished())
      continue;
    if (count == 0) {
      count = found.file.shard.count;
      held.assign(static_cast<std::size_t>(count), false);
    }
    if (found.file.shard.count != count)
      return ShardPosition{-1, count};
    held[static_cast<std::size_t>(found.file.shard.index)] = true;
  }
  if (count == 0)
    return ShardPosition{-1, 0};
  const auto missing = std::count(held.begin(), held.end(), false);
  const auto index = std::find(held.begin(), held.end(), false) - held.begin();
  return ShardPosition{missing == 1 ? static_cast<int>(index) : -1, count};
}

// One line per folder whose shard did not finish, or "" when every shard finished.
std::string unfinishedShards(const std::vector<FoundShard> &shards) {
  const auto unfinished = std::count_if(shards.begin(), shards.end(),
                                        [](const FoundShard &found) { return !found.finished(); });
  const ShardPosition position =
      unfinished == 1 ? unfinishedPosition(shards) : ShardPosition{-1, 0};
  std::string lines;
  for (const FoundShard &found : shards) {
    if (found.finished())
      continue;
    lines += (position.index >= 0 ? "shard " + std::to_string(position.index) + " of " +
                                        std::to_string(position.count) + " (" + found.folder + ")"
                                  : "shard folder " + found.folder) +
             " did not finish: " + unfinishedReason(found);
  }
  return lines;
}

} // namespace

std::string checkShardSet(const std::vector<FoundShard> &shards, const MergeExpectation &expected) {
  if (shards.empty())
    return "no shard folders given\n";
  if (std::string unfinished = unfinishedShards(shards); !unfinished.empty())
    return unfinished;
  for (const FoundShard &found : shards) {
    if (!found.readable)
      return "shard folder " + found.folder + ": " + found.readError;
    const std::string mismatch = runMismatch(found, expected);
    if (!mismatch.empty())
      return mismatch;
  }
  const FoundShard &first = shards.front();
  const int count = first.file.shard.count;
  std::vector<const FoundShard *> byIndex(static_cast<std::size_t>(count), nullptr);
  for (const FoundShard &found : shards) {
    if (found.file.shard.count != count)
      return "shard folder " + found.folder + " holds " + shardName(found.file) +
             ", but shard folder " + first.folder + " holds " + shardName(first.file) +
             ": the shards are of different splits\n";
    const FoundShard *&slot = byIndex[static_cast<std::size_t>(found.file.shard.index)];
    if (slot != nullptr)
      return "shard folder " + found.folder + " is extra: it holds " + shardName(found.file) +
             ", as does shard folder " + slot->folder + "\n";
    slot = &found;
  }
  for (int k = 0; k < count; ++k) {
    if (byIndex[static_cast<std::size_t>(k)] == nullptr)
      return "shard " + std::to_string(k) + " of " + std::to_string(count) +
             " is missing: no shard folder given holds it (shard folder " + first.folder +
             " holds " + shardName(first.file) + ")\n";
  }
  return {};
}
