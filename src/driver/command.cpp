#include "driver/command.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/resampling.h"
#include "driver/result_transaction.h"
#include "util/fatal.h"
#include "util/whole_number.h"

namespace {

constexpr const char *kLockFile = ".torva.lock";

std::string workingFolder() {
  char path[4096];
  return getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string(".");
}

// The process id another run wrote into the lock file, or "unknown".
std::string lockHolder(int fd) {
  char text[32] = {};
  const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid = got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
    pid.pop_back();
  return pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ? "unknown" : pid;
}

} // namespace

#include "driver/resampling.h"

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

int methodOfArgument(const std::string &text) {
  if (text == "1")
    return kJackknife;
  if (text == "2")
    return kBootstrap;
  return 0;
}

std::string parseResamplingSize(const std::string &text, int &size) {
  const std::string refusal =
      "resampling_size '" + text + "' is not a whole decimal number from 0 to 2147483647\n";
  unsigned long long value = 0;
  if (text.size() > 10 || parseDigits(text, 2147483647ULL, value) != WholeNumber::Ok)
    return refusal;
  size = static_cast<int>(value);
  return std::string();
}

std::string resamplingPlanProblem(int method, long subjects, int iterations,
                                  const std::string &listPath) {
  if (subjects < 1 || iterations < 1)
    return "nothing to resample: " + std::to_string(subjects) + " subjects and " +
           std::to_string(iterations) + " iterations (file list " + listPath + ")\n";
  if (method == kJackknife && subjects == 1)
    return "file list " + listPath +
           " holds 1 subject; a jackknife needs at least 2, since each iteration leaves one out\n";
  return std::string();
}

std::string lockWorkingFolder() {
  const std::string folder = workingFolder();
  // Non-blocking, so that a FIFO of that name cannot stall the start.
  const int fd = ::open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0)
    return "cannot create the lock file " + std::string(kLockFile) + " in the working folder " +
           folder + ": " + std::strerror(errno) + "\n";
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return "the lock file " + std::string(kLockFile) + " in the working folder " + folder +
           " is not a regular file; remove it\n";
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const std::string message = "the working folder " + folder + " is in use by another run (pid " +
                                lockHolder(fd) + "); wait for it to end or run in another folder\n";
    ::close(fd);
    return message;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock holds without the pid; another run then reports the pid as unknown.
  }
  return std::string(); // fd stays open: the lock lasts until the process ends
}

std::string outOfMemoryMessage(const char *what) {
  return std::string("out of memory (") + what +
         "): the study or the settings need more memory than this machine can give\n";
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

int runReportingOutOfMemory(int (*body)(int, char **), int argc, char **argv) {
  try {
    return body(argc, argv);
  } catch (const std::bad_alloc &) {
    torva::exitWithMessage(torva::kExitInputError, stderr, outOfMemoryMessage("allocation failed"));
  } catch (const std::length_error &) {
    torva::exitWithMessage(torva::kExitInputError, stderr, outOfMemoryMessage("size too large"));
  }
}

void startAnalysisRun(int &threads, ResultTransaction &results) {
  std::string threadError;
  if (!threadCountFromEnvironment(threads, threadError))
    torva::exitWithMessage(torva::kExitUsage, stderr, threadError);
  if (const std::string refused = lockWorkingFolder(); !refused.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr, refused);
  if (const std::string refused = results.open(); !refused.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr, refused);
}
