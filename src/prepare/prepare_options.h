#pragma once
// Command-line options of torvacoreel-prepare.
#include <string>

struct PrepareOptions {
  std::string table;
  std::string idColumn;
  std::string imagePattern; // "{id}" stands for the id text
  std::string imageColumn;
  std::string outcomeColumn;
  enum class Cut { None, Above, Below } cut = Cut::None;
  double cutValue = 0.0;
  bool hasThreshold = false; // without it a voxel is lesioned where its value is > 0
  double threshold = 0.0;
  int downsample = 1;
  std::string out;
  bool force = false;
  bool skipMissing = false;
};

// Parses argv[1 .. argc-1]. Returns an empty string on success, else what is wrong.
std::string parsePrepareArguments(int argc, const char *const *argv, PrepareOptions &options);

// One-paragraph usage text.
const char *prepareUsage();
