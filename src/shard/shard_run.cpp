#include "shard/shard_run.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "data/decoded_study.h"
#include "results/result_transaction.h"
#include "roi/roi_settings.h"
#include "run/resampling.h"
#include "util/fatal.h"

bool shardOfRun(ShardFile &file, const std::string &listPath, const DecodedStudy &study, int method,
                int sizeArgument, int iterations, const ShardPosition &position,
                const IterationRange &range, const ResamplingResult &result,
                const std::string &runLogPath, std::string &error) {
  file = ShardFile{};
  if (!fingerprintOfDecoded(listPath, study, file.fingerprint, error))
    return false;
  file.method = method;
  file.sizeArgument = sizeArgument;
  file.iterations = iterations;
  file.shard = position;
  file.voxels = static_cast<std::uint64_t>(result.voxels);
  // The merge refuses shards run with another share than its own settings give.
  RoiSettings settings;
  std::ostringstream quiet; // the iterations have echoed the settings
  error = readRoiSettings(settings, quiet);
  if (!error.empty())
    return false;
  file.representativeShare = settings.representativeShare;
  file.records = result.records;
  file.predictions = result.predictions;
  file.labels = result.labels;
  file.hasRunLog = range.size() > 0 && range.last == iterations;
  if (file.hasRunLog) {
    std::ifstream in(runLogPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
      error = "cannot read the run log " + runLogPath + " of the shard's last iteration\n";
      return false;
    }
    file.runLog = text.str();
  }
  return true;
}

void finishShard(const std::string &listPath, const DecodedStudy &study, int method,
                 int sizeArgument, int iterations, const ShardPosition &position,
                 const IterationRange &range, const ResamplingResult &result,
                 ResultTransaction &results, const std::string &runLogPath) {
  ShardFile file;
  std::string error;
  if (!shardOfRun(file, listPath, study, method, sizeArgument, iterations, position, range, result,
                  runLogPath, error) ||
      !writeShardFile(results.stagedPath(kShardFile), file, error))
    torva::exitWithMessage(torva::kExitInputError, stderr, error);
  if (const std::string problem = results.commit(); !problem.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr, problem);
}
