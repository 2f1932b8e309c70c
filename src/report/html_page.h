#pragma once
// report.html: one page without any network resource; pictures are PNG files beside it, charts
// are inline SVG, and all text is in the page rather than in pixels.
#include <string>

#include "util/shell_quote.h"
#include <vector>

#include "driver/result_files.h"
#include "report/montage.h"
#include "report/run_results.h"

class BN;

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
};

std::string reportHtml(const ReportPage &page);

// Text made safe for HTML element content and attribute values.
std::string escapeHtml(const std::string &text);
