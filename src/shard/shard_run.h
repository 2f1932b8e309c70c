#pragma once
// A run limited to one shard (TORVA_SHARD=K/N): the shard's iterations run as in a whole run,
// and instead of the ensemble step "shard.torva" keeps their records, label fields and, in the
// last shard, the last iteration's run log, for torvacoreel-merge.
#include <string>

#include "shard/plan.h"
#include "shard/shard_file.h"

struct DecodedStudy;
struct ResamplingResult;
class ResultTransaction;

// What a shard writes, from the run's decoded study (decoded with its voxel hashes) and the
// loop's results, with the run log read from `runLogPath`. Returns false with `error` naming the
// file that could not be read.
bool shardOfRun(ShardFile &file, const std::string &listPath, const DecodedStudy &study, int method,
                int sizeArgument, int iterations, const ShardPosition &position,
                const IterationRange &range, const ResamplingResult &result,
                const std::string &runLogPath, std::string &error);

// Builds the shard file and puts "shard.torva" in place through `results`; ends the process
// with status 1 and a message naming the file when that fails.
void finishShard(const std::string &listPath, const DecodedStudy &study, int method,
                 int sizeArgument, int iterations, const ShardPosition &position,
                 const IterationRange &range, const ResamplingResult &result,
                 ResultTransaction &results, const std::string &runLogPath);
