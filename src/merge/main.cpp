// torvacoreel-merge fileList method resampling_size SHARD_DIR...
//
// Joins the shards of one run (each made with TORVA_SHARD=K/N in its own folder) and runs the
// ensemble step as the whole run would: the result files are those of the whole run, and the
// standard output is the whole run's after its last iteration.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bn/bn.h"
#include "data/decoded_study.h"
#include "merge/shard_folders.h"
#include "results/result_transaction.h"
#include "roi/roi_settings.h"
#include "run/ensemble.h"
#include "run/resampling_method.h"
#include "run/startup.h"
#include "util/command_line.h"
#include "util/fatal.h"
#include "util/progress.h"
#include "util/progress_line.h"
#include "util/stop_signal.h"

namespace {

constexpr const char *kUsage =
    "Usage: torvacoreel-merge fileList method resampling_size SHARD_DIR...\n"
    "Joins the shard.torva files of a run split with TORVA_SHARD=K/N and writes the run's "
    "results\ninto the current directory. The arguments are those the shards were run with.\n";

constexpr const char *kHelpOptions = "  -h, --help  show this text and exit\n"
                                     "  --version   show the version and exit\n";

int run(int argc, char **argv) {
  using namespace torva;
  ParsedCommandLine line;
  if (const std::string problem =
          parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), {}, line);
      !problem.empty())
    exitWithUsageProblem("torvacoreel-merge", problem, kUsage);
  answerHelpOrVersion(line.help, line.version, "torvacoreel-merge",
                      std::string(kUsage) + kHelpOptions);
  const std::vector<std::string> &operands = line.operands;
  if (operands.size() < 4)
    exitWithMessage(kExitUsage, stderr, kUsage);
  const std::string listPath = operands[0];
  const int method = methodOfArgument(operands[1]);
  if (method == 0)
    exitWithMessage(kExitUsage, stderr,
                    "torvacoreel-merge: unknown resampling method '" + operands[1] +
                        "'; it takes 1 (jackknife) or 2 (bootstrap)\n");
  int size = 0;
  if (const std::string refused = parseResamplingSize(operands[2], size); !refused.empty())
    exitWithMessage(kExitUsage, stderr, refused);
  int threads = 1;
  catchStopSignals("torvacoreel-merge");
  ResultTransaction results;
  startAnalysisRun(threads, results);
  setRunLogPath(results.stagedPath(kRunLogFileName));

  DecodedStudy study;
  if (ReadFailure problem = decodeStudy(listPath, threads, study, true))
    exitWithMessage(kExitInputError, problem.toStdout ? stdout : stderr, problem.message);
  MergeExpectation expected;
  std::string error;
  if (!expectationOfStudy(listPath, study, method, size, expected, error))
    exitWithMessage(kExitInputError, stderr, error);
  RoiSettings settings;
  std::ostringstream quiet; // the shards have echoed the settings
  if (const std::string problem = readRoiSettings(settings, quiet); !problem.empty())
    exitWithMessage(kExitInputError, stderr, problem);
  expected.representativeShare = settings.representativeShare;
  const std::vector<std::string> folders(operands.begin() + 3, operands.end());
  ProgressLine reading("shard", static_cast<long>(folders.size())); // on a terminal only
  std::vector<FoundShard> shards = readShardFolders(folders, &reading);
  reading.finish();
  if (const std::string problem = checkShardSet(shards, expected); !problem.empty())
    exitWithMessage(kExitInputError, stderr, problem);
  MergedRun merged = joinShards(shards);
  startMergedRunLog(merged);

  BN bn;
  const HeldOutRun heldOut{method, std::move(merged.predictions)};
  runEnsemble(merged.records, merged.labels, expected.iterations, study, listPath,
              static_cast<long>(expected.voxels), bn, results, heldOut);
  exitWithStatus(kExitSuccess);
}

} // namespace

int main(int argc, char **argv) { return runReportingOutOfMemory(run, argc, argv); }
