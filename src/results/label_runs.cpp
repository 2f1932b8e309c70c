#include "results/label_runs.h"

LabelRuns encodeLabelRuns(const std::vector<int> &labels) {
  LabelRuns runs;
  for (const int label : labels) {
    if (!runs.empty() && runs.back().value == label)
      ++runs.back().length;
    else
      runs.push_back(LabelRun{label, 1});
  }
  runs.shrink_to_fit(); // every iteration's runs are kept until the ensemble step
  return runs;
}

void decodeLabelRuns(const LabelRuns &runs, std::vector<int> &labels) {
  labels.clear();
  for (const LabelRun &run : runs)
    labels.insert(labels.end(), static_cast<std::size_t>(run.length), run.value);
}
