// torvacoreel fileList method resampling_size
//
// Learns regions of interest that predict a binary outcome from binary brain maps, repeated on
// jackknife or bootstrap resamples of the subjects.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bn/bn.h"
#include "data/decoded_study.h"
#include "driver/command.h"
#include "results/result_transaction.h"
#include "run/ensemble.h"
#include "run/resampling.h"
#include "run/resampling_method.h"
#include "run/startup.h"
#include "shard/shard_run.h"
#include "util/command_line.h"
#include "util/fatal.h"
#include "util/progress.h"
#include "util/progress_line.h"
#include "util/stop_signal.h"

static int run(int argc, char **argv) {
  using namespace torva;
  // A single -h, --help or --version is answered; any other wrong count gets the usage.
  if (argc == 2) {
    const std::string only = argv[1];
    answerHelpOrVersion(only == "-h" || only == "--help", only == "--version", "torvacoreel",
                        helpText());
  }
  if (argc != 4) {
    printUsage();
    exitWithStatus(kExitUsage);
  }
  const std::string listPath = argv[1];
  fileExists(listPath.c_str()); // a missing list is reported before the method is looked at
  const int method = methodOfArgument(argv[2]);
  // A shard prints what the whole run prints for its iterations, so only the first shard
  // prints the start-up lines.
  ShardPosition shard;
  bool sharded = false;
  std::string shardError;
  if (!shardOfEnvironment(shard, sharded, shardError))
    exitWithMessage(kExitUsage, stderr, shardError);
  const bool printStart = !sharded || shard.index == 0 || method == 0;

  if (printStart)
    std::printf("TORVA with Bootstrap or Jackknife Resamping\n**************************\n");
  if (method == kJackknife) {
    if (printStart)
      std::printf("Jackknife resampling\n");
  } else if (method == kBootstrap) {
    if (printStart)
      std::printf("Bootstrap resampling\n");
  } else {
    std::printf("Unknown resampling method");
    exitWithStatus(kExitUsage);
  }
  int iterations = 0;
  if (const std::string refused = parseResamplingSize(argv[3], iterations); !refused.empty())
    exitWithMessage(kExitUsage, stderr, refused);
  const int sizeArgument = iterations;
  int threads = 1;
  catchStopSignals("torvacoreel"); // a scheduler's SIGTERM leaves the folder as it was
  ResultTransaction results;       // every result file is put in place only when all were written
  startAnalysisRun(threads, results);
  // A shard keeps its run log in the run folder, for shard.torva; a whole run stages it.
  const std::string runLogPath = sharded ? runFolderPath(results.folder(), kRunLogFileName)
                                         : results.stagedPath(kRunLogFileName);
  setRunLogPath(runLogPath);
  std::srand(0); // the bootstrap draws are the only consumer of rand(), so runs reproduce

  long subjects = 0;
  long nodes = 0;
  if (!readListHead(listPath.c_str(), subjects, nodes))
    exitWithMessage(kExitInputError, stderr,
                    "file list " + listPath + ": cannot read the subject and node counts\n");
  if (method == kJackknife)
    iterations = static_cast<int>(subjects);
  if (const std::string refused = resamplingPlanProblem(method, subjects, iterations, listPath);
      !refused.empty())
    exitWithMessage(kExitInputError, stderr, refused);

  // Every image is read and checked once, before the first analysis, so a bad subject cannot
  // stop a long run halfway; the iterations are views over the decoded study.
  PhaseClock phases;
  DecodedStudy study;
  if (ReadFailure problem = decodeStudy(listPath, threads, study, sharded))
    exitWithMessage(kExitInputError, problem.toStdout ? stdout : stderr, problem.message);
  std::fputs(study.list.extraEntriesWarning.c_str(), stderr);
  phases.loading = phases.lap();

  ResamplingResult result;
  const IterationRange range =
      sharded ? shardRange(iterations, shard) : IterationRange{0, iterations};
  ProgressLine line("iteration", range.size()); // on standard error, when that is a terminal
  runResampling(result, study, method, range.first, range.last, threads, &line);
  line.finish();
  if (sharded) {
    finishShard(listPath, study, method, sizeArgument, iterations, shard, range, result, results,
                runLogPath);
    exitWithStatus(kExitSuccess);
  }
  phases.lap();
  // A study whose lesions overlap too little ends with empty models; the note says why. (The
  // ensemble step consumes the records.)
  const std::string note = noRegionNoteOfRun(result, static_cast<long>(study.list.subjects.size()));
  BN bn; // the final network
  const HeldOutRun heldOut{method, std::move(result.predictions)};
  runEnsemble(result.records, result.labels, iterations, study, listPath, result.voxels, bn,
              results, heldOut);
  phases.ensemble = phases.lap();
  writePhaseTimes(phases, result.times);
  writeStandardError(note);
  exitWithStatus(kExitSuccess);
}

int main(int argc, char **argv) { return runReportingOutOfMemory(run, argc, argv); }
