#include "merge/shard_folders.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <sys/stat.h>

#include "data/decoded_study.h"
#include "data/study_reader.h"
#include "results/result_transaction.h"
#include "roi/run_log.h"
#include "run/ensemble.h"
#include "run/resampling_method.h"
#include "util/progress.h"
#include "util/progress_line.h"
#include "util/stop_signal.h"

bool expectationOfStudy(const std::string &listPath, const DecodedStudy &study, int method,
                        int size, MergeExpectation &expected, std::string &error) {
  MergeExpectation result;
  if (!fingerprintOfDecoded(listPath, study, result.fingerprint, error))
    return false;
  result.method = method;
  result.sizeArgument = size;
  result.iterations = method == kJackknife ? static_cast<int>(study.list.subjectCount) : size;
  result.voxels = static_cast<std::uint64_t>(study.list.nodeCount - 1);
  expected = std::move(result);
  return true;
}

namespace {

// The run folders left in the shard's folder, and whether the folder exists without a shard file.
void noteUnfinishedRun(FoundShard &found, const std::string &path) {
  for (const RunFolderSeen &seen : runFoldersIn(found.folder)) {
    found.runFolders.push_back(seen.name);
    found.running = found.running || seen.live;
  }
  struct stat info {};
  found.fileMissing = ::stat(found.folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                      ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

} // namespace

std::vector<FoundShard> readShardFolders(const std::vector<std::string> &folders,
                                         torva::ProgressLine *line) {
  std::vector<FoundShard> shards(folders.size());
  for (std::size_t i = 0; i < folders.size(); ++i) {
    torva::endIfStopRequested(); // a shard file of a 1 mm run holds hundreds of megabytes
    FoundShard &found = shards[i];
    found.folder = folders[i];
    const std::string path = folders[i] + "/" + kShardFile;
    found.readable = readShardFile(path, found.file, found.readError);
    noteUnfinishedRun(found, path);
    if (line != nullptr)
      line->advance();
  }
  return shards;
}

void startMergedRunLog(const MergedRun &run) { torva::startRunLogText(run.runLog); }

MergedRun joinShards(std::vector<FoundShard> &shards) {
  std::sort(shards.begin(), shards.end(), [](const FoundShard &a, const FoundShard &b) {
    return a.file.shard.index < b.file.shard.index;
  });
  MergedRun run;
  for (FoundShard &found : shards) {
    ShardFile &file = found.file;
    std::move(file.records.begin(), file.records.end(), std::back_inserter(run.records));
    std::move(file.labels.begin(), file.labels.end(), std::back_inserter(run.labels));
    std::move(file.predictions.begin(), file.predictions.end(),
              std::back_inserter(run.predictions));
    if (file.hasRunLog)
      run.runLog = std::move(file.runLog);
  }
  return run;
}
