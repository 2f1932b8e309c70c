#include "prepare/prepare_options.h"

#include "prepare/numbers.h"

const char *prepareUsage() {
  return "usage: torvacoreel-prepare --table FILE --id-column COL\n"
         "         (--image PATTERN | --image-column COL) --outcome-column COL\n"
         "         [--above V | --below V] [--threshold T] [--downsample 2]\n"
         "         --out DIR [--force] [--skip-missing]\n"
         "  PATTERN: mask path relative to the table's folder, {id} standing for the id\n";
}

std::string parsePrepareArguments(int argc, const char *const *argv, PrepareOptions &options) {
  options = PrepareOptions{};
  bool hasCut = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--force") {
      options.force = true;
      continue;
    }
    if (option == "--skip-missing") {
      options.skipMissing = true;
      continue;
    }
    if (i + 1 >= argc)
      return option.compare(0, 2, "--") == 0 ? "missing value after " + option
                                             : "unexpected argument " + option;
    const std::string value = argv[++i];
    double number = 0.0;
    const bool numeric = parseFinite(value, number);
    if (option == "--table") {
      options.table = value;
    } else if (option == "--id-column") {
      options.idColumn = value;
    } else if (option == "--image") {
      options.imagePattern = value;
    } else if (option == "--image-column") {
      options.imageColumn = value;
    } else if (option == "--outcome-column") {
      options.outcomeColumn = value;
    } else if (option == "--above" || option == "--below") {
      if (hasCut)
        return "give only one of --above and --below";
      if (!numeric)
        return option + " needs a number, not '" + value + "'";
      hasCut = true;
      options.cut = option == "--above" ? PrepareOptions::Cut::Above : PrepareOptions::Cut::Below;
      options.cutValue = number;
    } else if (option == "--threshold") {
      if (!numeric)
        return "--threshold needs a number, not '" + value + "'";
      options.hasThreshold = true;
      options.threshold = number;
    } else if (option == "--downsample") {
      if (value != "1" && value != "2")
        return "--downsample takes 2 (or 1 for none), not '" + value + "'";
      options.downsample = value == "2" ? 2 : 1;
    } else if (option == "--out") {
      options.out = value;
    } else {
      return "unknown option " + option;
    }
  }
  if (options.table.empty() || options.idColumn.empty() || options.outcomeColumn.empty() ||
      options.out.empty())
    return "--table, --id-column, --outcome-column and --out are all needed";
  if (options.imagePattern.empty() == options.imageColumn.empty())
    return "give exactly one of --image and --image-column";
  return {};
}
