#pragma once
// The two batch scripts of a run on a Slurm cluster: a job array with one shard per task, each
// in its own folder, and a merge job run in the run folder once every task has succeeded.
#include <string>

#include "util/shell_quote.h"
#include <vector>

#include "slurm/slurm_request.h"

struct FileList;

// Where everything of one run lives. The run folder is where the user started
// torvacoreel-slurm: it holds the settings files and receives the results, as a run on one
// machine would.
struct RunLayout {
  std::string runFolder;                 // absolute
  std::string shardRoot;                 // runFolder/torva_shards
  std::string listCopy;                  // the list with absolute image paths, in shardRoot
  std::vector<std::string> shardFolders; // shardRoot/shard_K
  std::string analysisProgram;           // torvacoreel
  std::string mergeProgram;              // torvacoreel-merge
};

constexpr const char *kShardRootName = "torva_shards";

// `programFolder` holds torvacoreel and torvacoreel-merge; empty: found on the PATH.
RunLayout planLayout(const std::string &runFolder, int shards, const std::string &programFolder);

// Memory of one shard, in MiB: the study decoded once as bits, X*Y*Z*ceil(K/64)*8 bytes, plus
// per thread 192 bytes per voxel (label field, voxel values and the candidates' working set,
// measured at 170 to 180 bytes per voxel when every voxel is a candidate), plus 64 MiB for the
// program. The merge decodes the same study, so the same request serves it.
long long estimateMemoryMiB(const FileList &list, int threads);

// `memory` is the --mem value for both jobs.
std::string shardArrayScript(const SlurmRequest &request, const RunLayout &layout,
                             const std::string &memory);
std::string mergeScript(const SlurmRequest &request, const RunLayout &layout,
                        const std::string &memory);
