#pragma once
// Which part of a run a shard makes: TORVA_SHARD=K/N read and checked, and the contiguous range
// of iterations that shard K of N runs (its draws are chooseAllSubjects', as in a whole run).
#include <string>
#include <vector>

constexpr const char *kShardVariable = "TORVA_SHARD";

struct ShardPosition {
  int index = 0; // K
  int count = 1; // N
};

// Parses `text` as "K/N": whole decimal numbers, 0 <= K < N, nothing else. On failure returns
// false with a message naming TORVA_SHARD and the value.
bool parseShardPosition(const std::string &text, ShardPosition &position, std::string &error);

// Iterations [first, last) of one shard.
struct IterationRange {
  int first = 0;
  int last = 0;
  int size() const { return last - first; }
};

// Shard K of N gets [floor(K*I/N), floor((K+1)*I/N)) of I iterations: the ranges are contiguous,
// in order and cover every iteration once; their sizes differ by at most one. When N > I some
// shards are empty, never the last one, which therefore always holds the last iteration.
IterationRange shardRange(int iterations, const ShardPosition &position);

// Reads TORVA_SHARD. Returns false with `error` set when it is set but malformed; `sharded`
// tells whether it is set at all.
bool shardOfEnvironment(ShardPosition &position, bool &sharded, std::string &error);
