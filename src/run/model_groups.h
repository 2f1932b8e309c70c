#pragma once
// Grouping of the per-iteration model records into distinct models, the most frequent model
// (the mode) and the iterations that produced it.
#include <string>
#include <vector>

#include "results/model_record.h"

// Distinct models in order of first occurrence: the iteration of each model's first record
// (the model's id) and how many records belong to it.
struct ModelTable {
  std::vector<int> modelIds;
  std::vector<int> modelFreqs;
};

// Two records hold the same model when they have the same number of representative voxels and
// the same set of voxel ids; the order in which the regions were found does not matter.
bool sameModel(const ModelRecord &a, const ModelRecord &b);

// Groups `records` (iteration order) into distinct models.
void groupModels(const std::vector<ModelRecord> &records, ModelTable &table);

// Position of the most frequent model; on a tie the model that occurred first wins.
int modelMode(const std::vector<int> &modelFreqs);

// Iterations, ascending, whose records hold the same model as `mode`.
void modeMembers(const std::vector<ModelRecord> &records, const ModelRecord &mode,
                 std::vector<int> &members);

// The record of iteration `iteration`, or nullptr when there is none.
const ModelRecord *recordOfIteration(const std::vector<ModelRecord> &records, int iteration);

// Contents of "model.el.torva": number of distinct models, the mode's id and frequency, and all
// frequencies in ascending order, each as a share of `iterations`.
std::string modelFileText(const ModelTable &table, int best, int iterations);

// Prints "model=%d, frq=%d" per distinct model, in table order.
void printModels(const ModelTable &table);

// Prints the mode's id and its member iterations on one line.
void printModeMembers(int modeId, const std::vector<int> &members);
