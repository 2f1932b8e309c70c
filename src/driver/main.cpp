// torvacoreel fileList method resampling_size
//
// Learns regions of interest that predict a binary outcome from binary brain maps, repeated on
// jackknife or bootstrap resamples of the subjects.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "bn/bn.h"
#include "data/decoded_study.h"
#include "driver/command.h"
#include "driver/ensemble.h"
#include "driver/resampling.h"
#include "driver/result_transaction.h"
#include "util/extra.h"
#include "util/fatal.h"
#include "util/progress.h"

static int run(int argc, char **argv) {
  using namespace torva;
  if (argc != 4) {
    printUsage();
    exitWithStatus(kExitUsage);
  }
  const std::string listPath = argv[1];
  fileExists(listPath.c_str()); // a missing list is reported before the method is looked at
  const int method = methodOfArgument(argv[2]);

  std::printf("TORVA with Bootstrap or Jackknife Resamping\n**************************\n");
  if (method == kJackknife) {
    std::printf("Jackknife resampling");
  } else if (method == kBootstrap) {
    std::printf("Bootstrap resampling");
  } else {
    std::printf("Unknown resampling method");
    exitWithStatus(kExitUsage);
  }
  std::printf("\n");
  int iterations = 0;
  if (const std::string refused = parseResamplingSize(argv[3], iterations); !refused.empty())
    exitWithMessage(kExitUsage, stderr, refused);
  int threads = 1;
  std::string threadError;
  if (!threadCountFromEnvironment(threads, threadError))
    exitWithMessage(kExitUsage, stderr, threadError);
  if (const std::string refused = lockWorkingFolder(); !refused.empty())
    exitWithMessage(kExitInputError, stderr, refused);
  ResultTransaction results; // every result file is put in place only when all were written
  if (const std::string refused = results.open(); !refused.empty())
    exitWithMessage(kExitInputError, stderr, refused);
  setRunLogPath(results.stagedPath(kRunLogFileName));
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
  if (ReadFailure problem = decodeStudy(listPath, threads, study))
    exitWithMessage(kExitInputError, problem.toStdout ? stdout : stderr, problem.message);
  std::fputs(study.list.extraEntriesWarning.c_str(), stderr);
  phases.loading = phases.lap();

  ResamplingResult result;
  runResampling(result, study, method, 0, iterations, threads, results.folder());
  phases.lap();
  BN bn; // the final network
  runEnsemble(result.records, iterations, study, listPath, result.voxels, bn, results);
  phases.ensemble = phases.lap();
  writePhaseTimes(phases, result.times);
  exitWithStatus(kExitSuccess);
}

// Allocation failures that escape the size checks end as a message, not an abort.
int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
    torva::exitWithMessage(torva::kExitInputError, stderr, outOfMemoryMessage("allocation failed"));
  } catch (const std::length_error &) {
    torva::exitWithMessage(torva::kExitInputError, stderr, outOfMemoryMessage("size too large"));
  }
}
