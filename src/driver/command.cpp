#include "driver/command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "run/resampling.h"

std::string helpText() {
  return "Usage: torvacoreel fileList method resampling_size\n"
         "Learns the regions whose voxels best predict a 0/1 outcome from binary brain maps,\n"
         "repeated on jackknife or bootstrap resamples of the subjects. Reads its settings files\n"
         "from, and writes its results into, the current folder.\n"
         "  fileList         the subject file list\n"
         "  method           1 jackknife (one iteration per subject), 2 bootstrap\n"
         "  resampling_size  the number of bootstrap iterations; ignored by the jackknife\n"
         "  -h, --help       show this text and exit (as the only argument)\n"
         "  --version        show the version and exit (as the only argument)\n"
         "Environment: TORVA_THREADS=N (threads), TORVA_SHARD=K/N (run shard K of N),\n"
         "TORVA_PHASE_TIMES=FILE (each phase's time into FILE), TORVA_PROGRESS=0 (no progress\n"
         "line on the terminal).\n"
         "Example: torvacoreel torva.prj.filelist 2 200 runs 200 bootstrap iterations.\n";
}

void printUsage() {
  std::printf("Usage: torvacoreel fileList method resampling_size\n"
              "\n"
              "Parameters: \n"
              "fileList - proj file list\n"
              "method - an integer variable. It takes values from {1 - jackknife; 2 - "
              "bootstrap}\n"
              "resampling_size - an integer variable. It's the number of iterations for "
              "resampling.\n"
              "\n"
              "Examples:\n"
              "torvacoreel torva.prj.filelist 2 200\n"
              "This command tells TORVA to perform bootstrap resampling with resampling "
              "size=200\n");
}

bool readListHead(const char *listPath, long &subjects, long &nodes) {
  std::ifstream in(listPath);
  std::string word;
  subjects = 0;
  nodes = 0;
  return static_cast<bool>(in >> word >> subjects >> word >> nodes);
}

namespace {
double secondsNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
} // namespace

PhaseClock::PhaseClock() : last(secondsNow()) {}

double PhaseClock::lap() {
  const double now = secondsNow();
  const double seconds = now - last;
  last = now;
  return seconds;
}

void writePhaseTimes(const PhaseClock &clock, const PhaseTimes &loop) {
  const char *path = std::getenv("TORVA_PHASE_TIMES");
  if (path == nullptr || *path == '\0')
    return;
  std::FILE *out = std::fopen(path, "w");
  if (out == nullptr)
    return;
  std::fprintf(out, "loading %.3f\nscreening_scan %.3f\nsegmentation %.3f\nensemble %.3f\n",
               clock.loading, loop.screeningAndScan, loop.segmentation, clock.ensemble);
  std::fclose(out);
}
