#include "results/model_record.h"

#include <algorithm>

ModelRecord makeModelRecord(int iteration, const std::vector<int> &representatives) {
  ModelRecord record;
  record.fill(-1);
  record[0] = iteration;
  record[1] = static_cast<int>(representatives.size());
  const std::size_t stored = std::min<std::size_t>(representatives.size(), kModelRecordIds);
  for (std::size_t i = 0; i < stored; ++i)
    record[2 + i] = representatives[i];
  return record;
}
