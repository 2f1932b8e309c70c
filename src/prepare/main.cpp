// torvacoreel-prepare --table FILE --id-column COL (--image PATTERN | --image-column COL)
//                     --outcome-column COL [--above V | --below V] [--threshold T]
//                     [--downsample 2] --out DIR [--force] [--skip-missing]
//
// Turns a participants table and one lesion mask per subject into a study the analysis reads.
#include <cstdio>
#include <string>
#include <vector>

#include "prepare/prepare_options.h"
#include "prepare/study_builder.h"
#include "run/startup.h"
#include "util/command_line.h"
#include "util/fatal.h"
#include "util/stop_signal.h"

int main(int argc, char **argv) {
  using namespace torva;
  PrepareOptions options;
  const std::string usageProblem =
      parsePrepareArguments(std::vector<std::string>(argv + 1, argv + argc), options);
  if (!usageProblem.empty())
    exitWithUsageProblem("torvacoreel-prepare", usageProblem, prepareUsage());
  answerHelpOrVersion(options.help, options.version, "torvacoreel-prepare", prepareHelp());
  catchStopSignals("torvacoreel-prepare");
  PrepareSummary summary;
  const std::string problem = prepareStudy(options, summary);
  for (const std::string &warning : summary.warnings)
    std::fprintf(stderr, "warning: %s\n", warning.c_str());
  if (!problem.empty())
    exitWithMessage(kExitInputError, stderr, "torvacoreel-prepare: " + problem + "\n");
  std::fputs(formatSummary(summary).c_str(), stdout);
  if (const std::string warning = overlapWarning(summary); !warning.empty())
    std::fprintf(stderr, "warning: %s\n", warning.c_str());
  return kExitSuccess;
}
