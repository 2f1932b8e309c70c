#pragma once
// The command line of torvacoreel-slurm:
//   torvacoreel-slurm fileList method size --shards N [--threads T] [--partition P] [--time T]
//                     [--mem M] [--dry-run]
#include <string>
#include <vector>

struct SlurmRequest {
  std::string listPath;
  int method = 0;
  int sizeArgument = 0;
  int shards = 0;
  int threads = 1;       // per job: CPUs requested and analysis threads
  std::string partition; // empty: the cluster's default
  std::string time;      // empty: the partition's default
  std::string memory;    // empty: estimated from the study
  bool dryRun = false;
  bool help = false;    // -h or --help: nothing else is read
  bool version = false; // --version: nothing else is read
};

// Parses the arguments after the program name; options may come before, between or after the
// three positional arguments, as "--opt value" or "--opt=value". On failure returns false with a
// message for standard error.
bool parseSlurmRequest(const std::vector<std::string> &args, SlurmRequest &request,
                       std::string &error);

// The usage text.
std::string slurmUsage();

// The usage and one line per option, for --help.
std::string slurmHelp();
