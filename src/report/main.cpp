// torvacoreel-report [--study torva.prj.filelist] [--background template.nii[.gz]] [--out report]
//                    [RESULTS_DIR]
//
// Turns a finished run's result files into a region table in millimetres, slice pictures and a
// one-page HTML report.
#include <cstdio>
#include <string>
#include <vector>

#include "report/report.h"
#include "report/run_results.h"
#include "run/startup.h"
#include "util/command_line.h"
#include "util/fatal.h"
#include "util/stop_signal.h"

int main(int argc, char **argv) {
  using namespace torva;
  ReportOptions options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string usageError = parseReportOptions(args, options);
  if (!usageError.empty())
    exitWithUsageProblem("torvacoreel-report", usageError, kReportUsage);
  answerHelpOrVersion(options.help, options.version, "torvacoreel-report", reportHelp());
  options.commandLine.assign(argv, argv + argc);
  catchStopSignals("torvacoreel-report");
  std::string table;
  const std::string error = writeReport(options, table);
  if (!error.empty())
    exitWithMessage(kExitInputError, stderr, "torvacoreel-report: " + error);
  std::fputs(table.c_str(), stdout);
  std::printf("Report written to %s\n", resultPath(options.out, "report.html").c_str());
  exitWithStatus(kExitSuccess);
}
