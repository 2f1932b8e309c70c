#pragma once
// The ensemble step that ends a run: the model ensemble summary, the final network over the
// most frequent model fitted on all subjects, the variable log, the consensus label field and
// frequency map (text and images).
#include <string>
#include <vector>

#include "evidence/heldout_prediction.h"
#include "results/label_runs.h"
#include "results/model_record.h"

class BN;
class ResultTransaction;
class Samples;
struct DecodedStudy;

// What the held-out prediction files need of the loop: the resampling method (kJackknife or
// kBootstrap) and every iteration's predictions, in iteration order.
struct HeldOutRun {
  int method = 0;
  std::vector<IterationPredictions> predictions;
};

// Runs the whole step after the resampling loop. `records` and `labelFields` are in iteration
// order, `study` the study decoded for the run from the list at `listPath` (all subjects in list
// order), `voxels` the length of the iteration label fields, `heldOut` the loop's held-out
// predictions. Every result
// file goes through `results` (opened here unless the caller already did) and is put in place only
// when all were written. Ends the process with status 1 on a file it cannot read or write; the
// earlier results then stay as they were.
void runEnsemble(std::vector<ModelRecord> &records, const std::vector<LabelRuns> &labelFields,
                 int iterations, const DecodedStudy &study, const std::string &listPath,
                 long voxels, BN &bn, ResultTransaction &results, const HeldOutRun &heldOut);

// Stages "prediction.tsv" and "prediction_summary.tsv" of a run of `iterations` iterations.
void writeHeldOutFiles(const HeldOutRun &heldOut, int iterations, const DecodedStudy &study,
                       ResultTransaction &results);

// Nodes of the final network in the full data set: the mode's voxel ids less one, in record
// order, then the function variable node `nodes` - 1.
void finalNetworkNodes(const ModelRecord &mode, long nodes, std::vector<int> &chosen);

// Fits `bn` on `data` (the chosen nodes only, function variable last): every voxel node is a
// parent of the function variable; tables are add-one smoothed conditional probabilities.
void fitFinalNetwork(BN &bn, const Samples &data);

// Contents of "log.el.torva": per chosen node its index in the full data set ("fv" for the last)
// and its cells as stored characters, then "R-SET" with the region count and voxel indices.
std::string variableLogText(const Samples &data, const std::vector<int> &chosen);

// Writes `text` to `path`, replacing it; ends the process with status 1 when that fails.
void writeResultText(const std::string &path, const std::string &text);
