#include "shard/plan.h"

#include <climits>
#include <cstdlib>

#include "util/whole_number.h"

namespace {

// --- TORVA_SHARD ---------------------------------------------------------------------------

// A whole decimal number of at most 9 digits (so it fits an int), nothing else.
bool parseCount(const std::string &text, int &value) {
  unsigned long long parsed = 0;
  if (text.size() > 9 || parseDigits(text, INT_MAX, parsed) != WholeNumber::Ok)
    return false;
  value = static_cast<int>(parsed);
  return true;
}

} // namespace

bool parseShardPosition(const std::string &text, ShardPosition &position, std::string &error) {
  const std::string prefix = std::string(kShardVariable) + "=\"" + text + "\": ";
  const auto slash = text.find('/');
  ShardPosition parsed;
  if (slash == std::string::npos || !parseCount(text.substr(0, slash), parsed.index) ||
      !parseCount(text.substr(slash + 1), parsed.count)) {
    error = prefix + "expected K/N, two whole numbers such as 0/4\n";
    return false;
  }
  if (parsed.count < 1 || parsed.index >= parsed.count) {
    error = prefix + "the shard K must be at least 0 and below the shard count N\n";
    return false;
  }
  position = parsed;
  return true;
}

// --- Ranges and draws ----------------------------------------------------------------------

IterationRange shardRange(int iterations, const ShardPosition &position) {
  const long long total = iterations;
  IterationRange range;
  range.first = static_cast<int>(position.index * total / position.count);
  range.last = static_cast<int>((position.index + 1LL) * total / position.count);
  return range;
}

bool shardOfEnvironment(ShardPosition &position, bool &sharded, std::string &error) {
  const char *value = std::getenv(kShardVariable);
  sharded = value != nullptr;
  if (!sharded)
    return true;
  return parseShardPosition(value, position, error);
}
