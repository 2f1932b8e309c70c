#pragma once
// The files beside a run's own results that the report shows: the held-out prediction, the
// permutation p-values and maps, and the atlas the user names; read, checked against the run,
// and turned into table columns, a montage and the page's prediction section.
#include <string>
#include <vector>

#include "report/atlas.h"
#include "report/evidence_files.h"
#include "report/html_page.h"
#include "report/region_table.h"
#include "report/report.h"
#include "report/run_results.h"
#include "report/study_summary.h"
#include "report/volume.h"

// What beside the run's own results goes onto the page: the held-out prediction, the
// permutation p-values and maps, and the atlas.
struct Evidence {
  HeldOutPrediction prediction;
  PermutationResults permutation;
  bool gainMaps = false;
  Volume gain;             // gain_map.nii
  std::vector<bool> shown; // gain_corrp_map.nii >= 0.95
  bool withAtlas = false;
  Atlas atlas;
};

// Reads every evidence file present in the results folder and the atlas of `options`. `study`
// may be null; with it the prediction's subjects must be the file list's.
std::string loadEvidence(const ReportOptions &options, const RunResults &results,
                         const std::string &gridPath, const StudySummary *study,
                         Evidence &evidence);

// Fills the rows' p_fwe and atlas cells; says which of those columns the table gains.
AppendedColumns appendEvidence(const Evidence &evidence, const RunResults &results,
                               std::vector<RegionRow> &rows);

// Writes the gain montage to `path` (the staged gain.png) on the page's layout and fills
// page.gain.
std::string writeGainMontage(const std::string &path, const Evidence &evidence,
                             const std::vector<unsigned char> &grey, ReportPage &page);

// The DeLong line under the ROC, from the summary's rows: "held-out AUC 0.875 (95 % CI 0.81 to
// 0.94) against lesion volume 0.757: difference 0.118 (0.05 to 0.19), DeLong p = 0.001"; "" when
// the summary lacks the rows (a run from before them) or they are NA.
std::string aucComparisonLine(const HeldOutPrediction &prediction);

// The run's representativeShare as its torva.configure in `dir` gives it, "" when the file or
// the pair is not there; an error naming the file for a value that is no share.
std::string loadRepresentativeShare(const std::string &dir, std::string &share);

// The page's view of the held-out prediction: the measures as the run wrote them, and the curves
// over the predicted subjects (the lesion-volume curve only with the study).
PredictionView predictionView(const HeldOutPrediction &prediction, const StudySummary *study);
