#include "slurm/slurm_request.h"

#include <cstdlib>

#include "driver/resampling.h"

namespace {

bool parseWholeNumber(const std::string &text, int &value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::atoi(text.c_str());
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

bool parseSlurmRequest(const std::vector<std::string> &args, SlurmRequest &request,
                       std::string &error) {
  SlurmRequest parsed;
  std::vector<std::string> positional;
  bool shardsGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--dry-run") {
      parsed.dryRun = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "torvacoreel-slurm: " + arg + " needs a value\n" + slurmUsage();
      return false;
    }
    const std::string &value = args[++i];
    if (arg == "--shards") {
      shardsGiven = true;
      if (!parseWholeNumber(value, parsed.shards) || parsed.shards < 1) {
        error = "torvacoreel-slurm: --shards " + value + ": expected a whole number, 1 or more\n";
        return false;
      }
    } else if (arg == "--threads") {
      if (!parseWholeNumber(value, parsed.threads) || parsed.threads < 1) {
        error = "torvacoreel-slurm: --threads " + value + ": expected a whole number, 1 or more\n";
        return false;
      }
    } else if (arg == "--partition" || arg == "--time") {
      if (!isOptionWord(value)) {
        error = "torvacoreel-slurm: " + arg + " '" + value + "' must be one word\n";
        return false;
      }
      (arg == "--partition" ? parsed.partition : parsed.time) = value;
    } else if (arg == "--mem") {
      if (!isMemorySize(value)) {
        error = "torvacoreel-slurm: --mem " + value +
                ": expected a whole number with an optional unit K, M, G or T, such as 16G\n";
        return false;
      }
      parsed.memory = value;
    } else {
      error = "torvacoreel-slurm: unknown option " + arg + "\n" + slurmUsage();
      return false;
    }
  }
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
