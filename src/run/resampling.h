#pragma once
// The resampling loop: per iteration choose subjects, learn regions on them, and keep the
// iteration's label file and model record. The study is decoded once before the loop; every
// iteration is a view over it. Iterations run on several threads; their progress text and run
// logs are buffered and written in iteration order, so the output does not depend on the
// thread count.
#include <string>
#include <vector>

#include "evidence/heldout_prediction.h"
#include "results/label_runs.h"
#include "results/model_record.h"
#include "roi/bml.h"

struct DecodedStudy;
namespace torva {
class ProgressLine;
}

// Seconds of thread time in the phases of the loop, summed over the iterations.
struct PhaseTimes {
  double screeningAndScan = 0;
  double segmentation = 0;
};

// Whether in every iteration so far round 1 had no candidate voxel that could pass the norm
// test, which then leaves every model empty, and the figures that tell the user why.
struct NormTestShortfall {
  bool everyIteration = true;
  long largestOverlap = 0; // most subjects of the study that a candidate voxel is lesioned in
  long cases = 0;          // cases of an iteration
  double share = kDefaultRepresentativeShare; // the norm test's representativeShare
  void add(const RoundOneOverlap &iteration);
};

struct ResamplingResult {
  std::vector<ModelRecord> records; // iterations first .. last-1, in order
  // What each of those iterations' networks predicted for the subjects it did not draw.
  std::vector<IterationPredictions> predictions;
  std::vector<LabelRuns> labels; // each of those iterations' label field, in order
  long voxels = 0;               // length of every label field
  PhaseTimes times;
  NormTestShortfall shortfall;
};

// The line for standard error after a run of `subjects` subjects in which no iteration could
// choose a representative voxel because no candidate was lesioned in enough cases
// (roi/overlap_note.h); "" for any other run.
std::string noRegionNoteOfRun(const ResamplingResult &result, long subjects);

// Runs iterations [first, last) on `study` with up to `threads` threads (1: in the calling
// thread, writing straight to standard output and the run log). A fatal input error in an
// iteration ends the process after the output of every earlier iteration, as in a sequential
// run. Every finished iteration advances `line`.
void runResampling(ResamplingResult &result, const DecodedStudy &study, int method, int first,
                   int last, int threads, torva::ProgressLine *line = nullptr);
