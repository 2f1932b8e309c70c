#include "permute/permute_options.h"

#include <getopt.h>

namespace {

bool allDigits(const std::string &text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string parsePermutations(const std::string &text, long &permutations) {
  const std::string refusal = "--permutations takes a whole number from 1 to " +
                              std::to_string(kMaxPermutations) + ", not '" + text + "'\n";
  if (!allDigits(text) || text.size() > 7)
    return refusal;
  const long value = std::stol(text);
  if (value < 1 || value > kMaxPermutations)
    return refusal;
  permutations = value;
  return std::string();
}

std::string parseSeed(const std::string &text, std::uint64_t &seed) {
  const std::string refusal =
      "--seed takes a whole number from 0 to 18446744073709551615, not '" + text + "'\n";
  if (!allDigits(text) || text.size() > 20)
    return refusal;
  std::uint64_t value = 0;
  for (const char c : text) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10)
      return refusal;
    value = value * 10 + digit;
  }
  seed = value;
  return std::string();
}

} // namespace

std::string parsePermuteOptions(const std::vector<std::string> &args, PermuteOptions &options) {
  options = PermuteOptions{};
  std::vector<std::string> copies(args);
  std::vector<char *> argv;
  for (std::string &arg : copies)
    argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  static const option longOptions[] = {{"permutations", required_argument, nullptr, 'n'},
                                       {"seed", required_argument, nullptr, 's'},
                                       {"out", required_argument, nullptr, 'o'},
                                       {"help", no_argument, nullptr, 'h'},
                                       {"version", no_argument, nullptr, 'V'},
                                       {nullptr, 0, nullptr, 0}};
  opterr = 0;
  optind = 0; // a full restart, so the parser can run more than once in one process
  const int argc = static_cast<int>(copies.size());
  for (;;) {
    const int c = getopt_long(argc, argv.data(), ":h", longOptions, nullptr);
    if (c == -1)
      break;
    std::string problem;
    switch (c) {
    case 'n':
      problem = parsePermutations(optarg, options.permutations);
      break;
    case 's':
      problem = parseSeed(optarg, options.seed);
      break;
    case 'o':
      options.outDir = optarg;
      if (options.outDir.empty())
        problem = "--out needs a folder name\n";
      break;
    case 'h':
      options.help = true;
      return std::string();
    case 'V':
      options.version = true;
      return std::string();
    case ':':
      problem = std::string("option ") + argv[optind - 1] + " needs a value\n";
      break;
    default:
      problem = "unknown option " + std::string(argv[optind - 1]) + "\n";
      break;
    }
    if (!problem.empty())
      return problem;
  }
  const int positional = argc - optind;
  if (positional < 1 || positional > 2)
    return "expected fileList and an optional RESULTS_DIR, got " + std::to_string(positional) +
           " arguments\n";
  // getopt_long moves the operands behind the options in argv, not in `copies`.
  options.listPath = argv[optind];
  if (positional == 2)
    options.resultsDir = argv[optind + 1];
  if (options.outDir.empty())
    options.outDir = options.resultsDir;
  return std::string();
}

std::string permuteHelpText() {
  return std::string(kPermuteUsage) +
         "Family-wise error p-values of a finished run's regions by permutation of the outcome.\n"
         "  --permutations N  permutations per region, 1 to 1000000 (default 5000)\n"
         "  --seed S          seed of the permutations, 0 to 2^64-1 (default 1)\n"
         "  --out DIR         folder for permutation.tsv and the maps (default RESULTS_DIR)\n"
         "  -h, --help        show this text and exit\n"
         "  --version         show the version and exit\n";
}
