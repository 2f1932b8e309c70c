#include "slurm/slurm_request.h"

#include <climits>
#include <cstdlib>

#include "run/resampling_method.h"
#include "util/command_line.h"
#include "util/whole_number.h"

namespace {

// At most 9 digits, as the shard counts of TORVA_SHARD.
bool parseWholeNumber(const std::string &text, int &value) {
  unsigned long long parsed = 0;
  if (text.size() > 9 || parseDigits(text, INT_MAX, parsed) != WholeNumber::Ok)
    return false;
  value = static_cast<int>(parsed);
  return true;
}

// A value copied into an #SBATCH line: a blank or a line break would end or split the line.
bool isOptionWord(const std::string &text) {
  return !text.empty() && text.find_first_of(" \t\r\n'\"\\") == std::string::npos;
}

// Slurm's memory sizes: a whole number with an optional unit K, M, G or T.
bool isMemorySize(const std::string &text) {
  std::string digits = text;
  if (!digits.empty() && std::string("KMGTkmgt").find(digits.back()) != std::string::npos)
    digits.pop_back();
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::string slurmUsage() {
  return "usage: torvacoreel-slurm fileList method size --shards N [--threads T] [--partition P] "
         "[--time T] [--mem M] [--dry-run]\n";
}

std::string slurmHelp() {
  return slurmUsage() +
         "Writes the Slurm job scripts of a run split into N shards and a job that merges them, "
         "and\n"
         "submits them with sbatch. fileList, method and size are those of torvacoreel.\n"
         "  --shards N     the number of shards (array tasks), 1 or more\n"
         "  --threads T    CPUs per task and analysis threads (default 1)\n"
         "  --partition P  the partition (default: the cluster's)\n"
         "  --time T       the time limit per task (default: the partition's)\n"
         "  --mem M        memory per task, such as 16G (default: estimated from the study)\n"
         "  --dry-run      print the two batch scripts, write and submit nothing\n"
         "  -h, --help     show this text and exit\n"
         "  --version      show the version and exit\n";
}

namespace {

// Checks and applies one option's value; on failure returns false with the message.
bool applyOption(const std::string &name, const std::string &value, SlurmRequest &parsed,
                 std::string &error) {
  const std::string arg = "--" + name;
  if (name == "dry-run") {
    parsed.dryRun = true;
  } else if (name == "shards") {
    if (!parseWholeNumber(value, parsed.shards) || parsed.shards < 1) {
      error = "torvacoreel-slurm: --shards " + value + ": expected a whole number, 1 or more\n";
      return false;
    }
  } else if (name == "threads") {
    if (!parseWholeNumber(value, parsed.threads) || parsed.threads < 1) {
      error = "torvacoreel-slurm: --threads " + value + ": expected a whole number, 1 or more\n";
      return false;
    }
  } else if (name == "partition" || name == "time") {
    if (!isOptionWord(value)) {
      error = "torvacoreel-slurm: " + arg + " '" + value + "' must be one word\n";
      return false;
    }
    (name == "partition" ? parsed.partition : parsed.time) = value;
  } else if (name == "mem") {
    if (!isMemorySize(value)) {
      error = "torvacoreel-slurm: --mem " + value +
              ": expected a whole number with an optional unit K, M, G or T, such as 16G\n";
      return false;
    }
    parsed.memory = value;
  }
  return true;
}

} // namespace

bool parseSlurmRequest(const std::vector<std::string> &args, SlurmRequest &request,
                       std::string &error) {
  static const std::vector<torva::OptionSpec> known = {{"shards", true},    {"threads", true},
                                                       {"partition", true}, {"time", true},
                                                       {"mem", true},       {"dry-run", false}};
  SlurmRequest parsed;
  torva::ParsedCommandLine line;
  if (const std::string problem = torva::parseCommandLine(args, known, line); !problem.empty()) {
    error = "torvacoreel-slurm: " + problem + "\n" + slurmUsage();
    return false;
  }
  if (torva::takeHelpOrVersion(line, parsed.help, parsed.version)) {
    request = parsed;
    return true;
  }
  bool shardsGiven = false;
  for (const auto &[name, value] : line.options) {
    shardsGiven = shardsGiven || name == "shards";
    if (!applyOption(name, value, parsed, error))
      return false;
  }
  const std::vector<std::string> &positional = line.operands;
  if (positional.size() != 3 || !shardsGiven) {
    error = slurmUsage();
    return false;
  }
  parsed.listPath = positional[0];
  if (!parseWholeNumber(positional[1], parsed.method) ||
      (parsed.method != kJackknife && parsed.method != kBootstrap)) {
    error = "torvacoreel-slurm: method '" + positional[1] + "': expected 1 (jackknife) or 2 " +
            "(bootstrap)\n";
    return false;
  }
  if (!parseWholeNumber(positional[2], parsed.sizeArgument) ||
      (parsed.method == kBootstrap && parsed.sizeArgument < 1)) {
    error = "torvacoreel-slurm: size '" + positional[2] + "': expected a whole number" +
            (parsed.method == kBootstrap ? ", 1 or more for the bootstrap\n" : "\n");
    return false;
  }
  request = parsed;
  return true;
}
