#include "prepare/prepare_options.h"

#include <utility>

#include "prepare/numbers.h"
#include "util/command_line.h"

const char *prepareUsage() {
  return "usage: torvacoreel-prepare --table FILE --id-column COL\n"
         "         (--image PATTERN | --image-column COL) --outcome-column COL\n"
         "         [--above V | --below V] [--threshold T] [--downsample 2]\n"
         "         --out DIR [--force] [--skip-missing]\n"
         "  PATTERN: mask path relative to the table's folder, {id} standing for the id\n";
}

std::string prepareHelp() {
  return std::string(prepareUsage()) +
         "Turns a participants table and one lesion mask per subject into a study folder that\n"
         "torvacoreel reads.\n"
         "  --table FILE          participants table, .csv (commas) or .tsv (tabs), with a header\n"
         "  --id-column COL       the subject id column\n"
         "  --image PATTERN       mask path relative to the table's folder; {id} is the id text\n"
         "  --image-column COL    instead of --image: the column holding each mask's path\n"
         "  --outcome-column COL  the outcome: a 0/1 column, or a score cut with --above/--below\n"
         "  --above V             outcome 1 where the score is greater than V\n"
         "  --below V             outcome 1 where the score is less than V\n"
         "  --threshold T         a voxel is lesioned where its value is at least T (default: > "
         "0)\n"
         "  --downsample 2        max-pooling by 2 on each axis (1: none, the default)\n"
         "  --out DIR             the study folder to write\n"
         "  --force               replace the study in a non-empty DIR\n"
         "  --skip-missing        leave out, with a warning, rows whose mask does not exist\n"
         "  -h, --help            show this text and exit\n"
         "  --version             show the version and exit\n";
}

namespace {

const std::vector<torva::OptionSpec> kPrepareOptions = {
    {"table", true},          {"id-column", true}, {"image", true},  {"image-column", true},
    {"outcome-column", true}, {"above", true},     {"below", true},  {"threshold", true},
    {"downsample", true},     {"out", true},       {"force", false}, {"skip-missing", false}};

// The field of an option whose value is kept as it stands, or nullptr.
std::string *textField(const std::string &option, PrepareOptions &options) {
  static const std::pair<const char *, std::string PrepareOptions::*> fields[] = {
      {"table", &PrepareOptions::table},
      {"id-column", &PrepareOptions::idColumn},
      {"image", &PrepareOptions::imagePattern},
      {"image-column", &PrepareOptions::imageColumn},
      {"outcome-column", &PrepareOptions::outcomeColumn},
      {"out", &PrepareOptions::out}};
  for (const auto &[name, field] : fields)
    if (option == name)
      return &(options.*field);
  return nullptr;
}

// Applies one option; returns what is wrong with its value, or "".
std::string applyOption(const std::string &option, const std::string &value, bool &hasCut,
                        PrepareOptions &options) {
  if (std::string *field = textField(option, options)) {
    *field = value;
    return {};
  }
  double number = 0.0;
  const bool numeric = parseFinite(value, number);
  if (option == "force") {
    options.force = true;
  } else if (option == "skip-missing") {
    options.skipMissing = true;
  } else if (option == "above" || option == "below") {
    if (hasCut)
      return "give only one of --above and --below";
    if (!numeric)
      return "--" + option + " needs a number, not '" + value + "'";
    hasCut = true;
    options.cut = option == "above" ? PrepareOptions::Cut::Above : PrepareOptions::Cut::Below;
    options.cutValue = number;
  } else if (option == "threshold") {
    if (!numeric)
      return "--threshold needs a number, not '" + value + "'";
    options.hasThreshold = true;
    options.threshold = number;
  } else if (option == "downsample") {
    if (value != "1" && value != "2")
      return "--downsample takes 2 (or 1 for none), not '" + value + "'";
    options.downsample = value == "2" ? 2 : 1;
  }
  return {};
}

} // namespace

std::string parsePrepareArguments(const std::vector<std::string> &args, PrepareOptions &options) {
  options = PrepareOptions{};
  torva::ParsedCommandLine line;
  if (std::string problem = torva::parseCommandLine(args, kPrepareOptions, line); !problem.empty())
    return problem;
  if (torva::takeHelpOrVersion(line, options.help, options.version))
    return {};
  if (!line.operands.empty())
    return "unexpected argument " + line.operands.front();
  bool hasCut = false;
  for (const auto &[option, value] : line.options)
    if (std::string problem = applyOption(option, value, hasCut, options); !problem.empty())
      return problem;
  if (options.table.empty() || options.idColumn.empty() || options.outcomeColumn.empty() ||
      options.out.empty())
    return "--table, --id-column, --outcome-column and --out are all needed";
  if (options.imagePattern.empty() == options.imageColumn.empty())
    return "give exactly one of --image and --image-column";
  return {};
}
