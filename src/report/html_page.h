#pragma once
// report.html: one page without any network resource; pictures are PNG files beside it, charts
// are inline SVG, and all text is in the page rather than in pixels.
#include <string>
#include <utility>
#include <vector>

#include "report/evidence_charts.h"
#include "report/montage.h"
#include "report/run_results.h"
#include "results/result_files.h"

class BN;

// The held-out prediction as the page shows it.
struct PredictionView {
  bool present = false;
  std::vector<std::pair<std::string, std::string>> measures; // name on the page, value
  std::vector<RocSeries> roc;
  std::vector<CalibrationBin> bins;
  std::string note; // why a curve is missing, "" when both are drawn
  // The DeLong comparison of the held-out AUC with the lesion volume's, one line under the ROC;
  // "" when the summary has none (an older run, or fewer than 2 subjects of an outcome).
  std::string comparison;
};

// The round-1 gain where the family-wise corrected p is at most 0.05.
struct GainView {
  std::string image; // file name relative to the page, "" without the maps
  double top = 0;    // gain drawn as the brightest yellow
  long significant = 0;
  long shown = 0; // of them in the montage's slices
};

struct ReportPage {
  RunDescription run;
  ModelSummary summary;
  long subjects = 0;
  int regions = 0;
  std::vector<long> representatives;           // 0-based voxel index per region
  std::vector<std::vector<std::string>> table; // region table with header, as on the terminal
  const BN *network = nullptr;
  MontageLayout layout;
  std::string regionsImage; // file names relative to the page
  std::string frequencyImage;
  std::string backgroundName;        // what the grey shows, "" for nothing
  double backgroundTop = 0;          // value drawn as the lightest grey
  std::vector<std::string> commands; // exact command lines, one per entry
  std::string representativeShare;   // as the run's torva.configure gives it, "" when not set
  PredictionView prediction;
  long permutations = 0;      // of the p_fwe column, 0 without it
  bool volumeControl = false; // the table has p_fwe_volume
  GainView gain;
  std::string atlas; // atlas image behind rep_label and top_labels, "" without
};

std::string reportHtml(const ReportPage &page);

// Text made safe for HTML element content and attribute values.
std::string escapeHtml(const std::string &text);
