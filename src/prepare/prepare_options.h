#pragma once
// Command-line options of torvacoreel-prepare.
#include <string>
#include <vector>

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
  bool help = false;    // -h or --help: nothing else is read
  bool version = false; // --version: nothing else is read
};

// Parses the arguments after the program name ("--opt value" or "--opt=value"). Returns an
// empty string on success, else one line saying what is wrong.
std::string parsePrepareArguments(const std::vector<std::string> &args, PrepareOptions &options);

// One-paragraph usage text.
const char *prepareUsage();

// The usage and one line per option, for --help.
std::string prepareHelp();
