#include "merge/shard_folders.h"

#include <algorithm>
#include <iterator>

std::vector<FoundShard> readShardFolders(const std::vector<std::string> &folders) {
  std::vector<FoundShard> shards(folders.size());
  for (std::size_t i = 0; i < folders.size(); ++i) {
    FoundShard &found = shards[i];
    found.folder = folders[i];
    found.readable = readShardFile(folders[i] + "/" + kShardFile, found.file, found.readError);
  }
  return shards;
}

MergedRun joinShards(std::vector<FoundShard> &shards) {
  std::sort(shards.begin(), shards.end(), [](const FoundShard &a, const FoundShard &b) {
    return a.file.shard.index < b.file.shard.index;
  });
  MergedRun run;
  for (FoundShard &found : shards) {
    ShardFile &file = found.file;
    std::move(file.records.begin(), file.records.end(), std::back_inserter(run.records));
    std::move(file.labels.begin(), file.labels.end(), std::back_inserter(run.labels));
    if (file.hasRunLog)
      run.runLog = std::move(file.runLog);
  }
  return run;
}
