// The report's readers of the evidence files: prediction.tsv with prediction_summary.tsv,
// permutation.tsv, and the atlas label file. Each refuses a file with a message naming it or
// reads it into contents that hold what the page relies on.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_support.h"
#include "report/atlas.h"
#include "report/evidence_files.h"

using fuzzsupport::expect;

namespace {

bool names(const std::string &error, const std::string &file) {
  return error.find(file) != std::string::npos;
}

void writeOrRemove(const std::string &path, const std::uint8_t *data, std::size_t size,
                   bool present) {
  if (present)
    fuzzsupport::writeWholeFile(path, data, size);
  else
    unlink(path.c_str());
}

// The input up to its first NUL byte is prediction.tsv, the rest prediction_summary.tsv; without
// a NUL the summary is missing.
void heldOutPrediction(const std::uint8_t *data, std::size_t size) {
  const std::string &dir = fuzzsupport::scratchFolder();
  const auto *nul = static_cast<const std::uint8_t *>(std::memchr(data, 0, size));
  const std::size_t rowsSize = nul == nullptr ? size : static_cast<std::size_t>(nul - data);
  writeOrRemove(dir + "/prediction.tsv", data, rowsSize, true);
  writeOrRemove(dir + "/prediction_summary.tsv", data + rowsSize + 1,
                nul == nullptr ? 0 : size - rowsSize - 1, nul != nullptr);
  HeldOutPrediction prediction;
  const std::string error = loadHeldOutPrediction(dir, prediction);
  if (!error.empty()) {
    expect(names(error, "prediction"), "the error names a prediction file");
    expect(!prediction.present, "a refused prediction is not shown");
    return;
  }
  expect(prediction.present, "both files read");
  for (const PredictionRow &row : prediction.rows) {
    expect(row.outcome == 0 || row.outcome == 1, "outcome 0 or 1");
    expect(row.heldout >= 0, "held-out count not negative");
    expect(row.heldout == 0 || (row.p >= 0.0 && row.p <= 1.0), "probability in [0, 1]");
  }
  for (const char *measure : {"method", "auc", "brier", "log_loss"})
    expect(!prediction.value(measure).empty(), "every measure the page shows is there");
}

// The first byte is the number of regions (0 to 7), their representatives 0, 3, 6, ...
void permutation(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return;
  const std::string &dir = fuzzsupport::scratchFolder();
  std::vector<long> representatives;
  for (int r = 0; r < data[0] % 8; ++r)
    representatives.push_back(3L * r);
  fuzzsupport::writeWholeFile(dir + "/permutation.tsv", data + 1, size - 1);
  PermutationResults results;
  const std::string error = loadPermutation(dir, representatives, results);
  if (!error.empty()) {
    expect(names(error, "permutation.tsv"), "the error names permutation.tsv");
    return;
  }
  expect(results.present && results.rows.size() == representatives.size(), "one row per region");
  for (std::size_t n = 0; n < results.rows.size(); ++n) {
    expect(results.rows[n].region == static_cast<int>(n) + 1, "regions in order");
    expect(results.rows[n].repId == representatives[n] + 1, "the run's representatives");
    expect(results.rows[n].permutations >= 1, "at least one permutation");
    expect(results.rows[n].pFweVolume.empty() != results.withVolume,
           "p_fwe_volume in every row of a file with the column, in none of one without");
  }
}

void atlasNames(const std::uint8_t *data, std::size_t size) {
  std::map<long, std::string> labels;
  const std::string path = "labels.txt";
  const std::string error =
      parseAtlasNames(path, std::string(reinterpret_cast<const char *>(data), size), labels);
  if (!error.empty()) {
    expect(names(error, path), "the error names the label file");
    return;
  }
  for (const auto &entry : labels) {
    expect(!entry.second.empty(), "every label has a name");
    expect(entry.second.find('\n') == std::string::npos, "a name is one line");
    expect(entry.second.front() != ' ' && entry.second.front() != '\t', "names are trimmed");
    expect(entry.second.back() != ' ' && entry.second.back() != '\t', "names are trimmed");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  switch (data[0] % 3) {
  case 0:
    heldOutPrediction(data + 1, size - 1);
    break;
  case 1:
    permutation(data + 1, size - 1);
    break;
  default:
    atlasNames(data + 1, size - 1);
  }
  return 0;
}
