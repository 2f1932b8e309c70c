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
#include "driver/ensemble.h"
#include "driver/resampling.h"
#include "util/extra.h"
#include "util/fatal.h"

int main(int argc, char **argv) {
  using namespace torva;
  if (argc != 4) {
    printUsage();
    exitWithStatus(kExitUsage);
  }
  const std::string listPath = argv[1];
  fileExists(listPath.c_str()); // a missing list is reported before the method is looked at
  const int method = std::atoi(argv[2]);
  int iterations = std::atoi(argv[3]);

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
  std::srand(0); // the bootstrap draws are the only consumer of rand(), so runs reproduce

  int threads = 1;
  std::string threadError;
  if (!threadCountFromEnvironment(threads, threadError))
    exitWithMessage(kExitUsage, stderr, threadError);

  long subjects = 0;
  long nodes = 0;
  if (!readListHead(listPath.c_str(), subjects, nodes))
    exitWithMessage(kExitInputError, stderr,
                    "file list " + listPath + ": cannot read the subject and node counts\n");
  if (method == kJackknife)
    iterations = static_cast<int>(subjects);
  if (subjects < 1 || iterations < 1)
    exitWithMessage(kExitInputError, stderr,
                    "nothing to resample: " + std::to_string(subjects) + " subjects and " +
                        std::to_string(iterations) + " iterations (file list " + listPath + ")\n");

  // Every image is read and checked once, before the first analysis, so a bad subject cannot
  // stop a long run halfway; the iterations are views over the decoded study.
  PhaseClock phases;
  DecodedStudy study;
  if (ReadFailure problem = decodeStudy(listPath, threads, study))
    exitWithMessage(kExitInputError, problem.toStdout ? stdout : stderr, problem.message);
  phases.loading = phases.lap();

  ResamplingResult result;
  runResampling(result, study, method, 0, iterations, threads);
  phases.lap();
  BN bn; // the final network
  runEnsemble(result.records, iterations, study, listPath, result.voxels, bn);
  phases.ensemble = phases.lap();
  writePhaseTimes(phases, result.times);
  exitWithStatus(kExitSuccess);
}
