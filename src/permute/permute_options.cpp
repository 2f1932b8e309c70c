#include "permute/permute_options.h"

#include <cstdint>

#include "util/command_line.h"
#include "util/whole_number.h"

namespace {

// `text` as a whole number from 1 to `most` into `value`, or the refusal naming `option`.
std::string parseCount(const std::string &text, const char *option, long most, long &value) {
  const std::string refusal = std::string(option) + " takes a whole number from 1 to " +
                              std::to_string(most) + ", not '" + text + "'\n";
  unsigned long long parsed = 0;
  if (text.size() > std::to_string(most).size() ||
      parseDigits(text, static_cast<unsigned long long>(most), parsed) != WholeNumber::Ok ||
      parsed < 1)
    return refusal;
  value = static_cast<long>(parsed);
  return std::string();
}

std::string parseSeed(const std::string &text, std::uint64_t &seed) {
  const std::string refusal =
      "--seed takes a whole number from 0 to 18446744073709551615, not '" + text + "'\n";
  unsigned long long value = 0;
  if (text.size() > 20 || parseDigits(text, UINT64_MAX, value) != WholeNumber::Ok)
    return refusal;
  seed = value;
  return std::string();
}

} // namespace

std::string parsePermuteOptions(const std::vector<std::string> &args, PermuteOptions &options) {
  options = PermuteOptions{};
  static const std::vector<torva::OptionSpec> known = {
      {"permutations", true}, {"seed", true}, {"volume-bins", true}, {"out", true}};
  torva::ParsedCommandLine line;
  if (const std::string problem = torva::parseCommandLine(
          std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()), known, line);
      !problem.empty())
    return problem + "\n";
  if (torva::takeHelpOrVersion(line, options.help, options.version))
    return std::string();
  for (const auto &[name, value] : line.options) {
    std::string problem;
    if (name == "permutations") {
      problem = parseCount(value, "--permutations", kMaxPermutations, options.permutations);
    } else if (name == "seed") {
      problem = parseSeed(value, options.seed);
    } else if (name == "volume-bins") {
      long bins = 0;
      problem = parseCount(value, "--volume-bins", kMostVolumeBins, bins);
      options.volumeBins = problem.empty() ? static_cast<int>(bins) : options.volumeBins;
    } else {
      options.outDir = value;
      if (options.outDir.empty())
        problem = "--out needs a folder name\n";
    }
    if (!problem.empty())
      return problem;
  }
  const std::size_t positional = line.operands.size();
  if (positional < 1 || positional > 2)
    return "expected fileList and an optional RESULTS_DIR, got " + std::to_string(positional) +
           " arguments\n";
  options.listPath = line.operands[0];
  if (positional == 2)
    options.resultsDir = line.operands[1];
  if (options.outDir.empty())
    options.outDir = options.resultsDir;
  return std::string();
}

std::string permuteHelpText() {
  return std::string(kPermuteUsage) +
         "Family-wise error p-values of a finished run's regions by permutation of the outcome.\n"
         "  --permutations N  permutations per region, 1 to 1000000 (default 5000)\n"
         "  --seed S          seed of the permutations, 0 to 2^64-1 (default 1)\n"
         "  --volume-bins B   lesion-volume bins of p_fwe_volume, 1 to 10 (default 4)\n"
         "  --out DIR         folder for permutation.tsv and the maps (default RESULTS_DIR)\n"
         "  -h, --help        show this text and exit\n"
         "  --version         show the version and exit\n";
}
