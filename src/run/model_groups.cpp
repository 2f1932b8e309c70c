#include "run/model_groups.h"

#include <algorithm>
#include <cstdio>

namespace {

// A record's model in a form that compares by value: the region count, then the stored voxel
// ids in ascending order (unused slots stay -1).
ModelRecord modelKey(const ModelRecord &record) {
  ModelRecord key;
  key.fill(-1);
  key[1] = record[1];
  const int stored = std::clamp(record[1], 0, kModelRecordIds);
  std::copy(record.begin() + 2, record.begin() + 2 + stored, key.begin() + 2);
  std::sort(key.begin() + 2, key.begin() + 2 + stored);
  return key;
}

} // namespace

bool sameModel(const ModelRecord &a, const ModelRecord &b) { return modelKey(a) == modelKey(b); }

void groupModels(const std::vector<ModelRecord> &records, ModelTable &table) {
  table.modelIds.clear();
  table.modelFreqs.clear();
  std::vector<ModelRecord> keys;
  keys.reserve(records.size());
  for (const ModelRecord &record : records)
    keys.push_back(modelKey(record));
  std::vector<bool> grouped(records.size(), false);
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (grouped[i])
      continue;
    int count = 0;
    for (std::size_t j = i; j < records.size(); ++j) {
      if (!grouped[j] && keys[j] == keys[i]) {
        grouped[j] = true;
        ++count;
      }
    }
    table.modelIds.push_back(records[i][0]);
    table.modelFreqs.push_back(count);
  }
}

int modelMode(const std::vector<int> &modelFreqs) {
  int best = 0;
  for (std::size_t q = 1; q < modelFreqs.size(); ++q) {
    if (modelFreqs[q] > modelFreqs[best]) // strict: the earlier model keeps a tie
      best = static_cast<int>(q);
  }
  return best;
}

void modeMembers(const std::vector<ModelRecord> &records, const ModelRecord &mode,
                 std::vector<int> &members) {
  members.clear();
  const ModelRecord modeKey = modelKey(mode);
  for (const ModelRecord &record : records) {
    if (modelKey(record) == modeKey)
      members.push_back(record[0]);
  }
  std::sort(members.begin(), members.end());
}

const ModelRecord *recordOfIteration(const std::vector<ModelRecord> &records, int iteration) {
  for (const ModelRecord &record : records) {
    if (record[0] == iteration)
      return &record;
  }
  return nullptr;
}

std::string modelFileText(const ModelTable &table, int best, int iterations) {
  std::string text;
  char line[128];
  std::snprintf(line, sizeof line, "model ensemble includes\n%d \ndifferent models\n",
                static_cast<int>(table.modelIds.size()));
  text += line;
  const double modeFreq = static_cast<double>(table.modelFreqs[best]) / iterations;
  std::snprintf(line, sizeof line, "model with highest frequency is model \n%d \nfreq=\n%f\n",
                table.modelIds[best], modeFreq);
  text += line;
  text += "model freq=\n";
  // The listed shares are computed in single precision (27/29 gives 0.931035, not 0.931034).
  std::vector<float> sorted(table.modelFreqs.begin(), table.modelFreqs.end());
  std::sort(sorted.begin(), sorted.end());
  const float divisor = static_cast<float>(iterations);
  for (const float freq : sorted) {
    const float share = freq / divisor;
    std::snprintf(line, sizeof line, "%f ", static_cast<double>(share));
    text += line;
  }
  text += "\n";
  return text;
}

void printModels(const ModelTable &table) {
  for (std::size_t q = 0; q < table.modelIds.size(); ++q)
    std::printf("model=%d, frq=%d\n", table.modelIds[q], table.modelFreqs[q]);
}

void printModeMembers(int modeId, const std::vector<int> &members) {
  std::printf("the model mode is #%d, including ", modeId);
  for (const int member : members)
    std::printf("%d ", member);
  std::printf("\n");
}
