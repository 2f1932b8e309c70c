#include "run/startup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "results/result_transaction.h"
#include "util/command_line.h"
#include "util/fatal.h"
#include "util/file_checks.h"
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

bool threadCountFromEnvironment(int &threads, std::string &error) {
  const char *value = std::getenv("TORVA_THREADS");
  if (value == nullptr) {
    threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return true;
  }
  unsigned long long parsed = 0;
  if (parseDigits(value, 4096, parsed) != WholeNumber::Ok || parsed < 1) {
    error = std::string("TORVA_THREADS='") + value +
            "' is not a thread count; it takes a whole number from 1 to 4096\n";
    return false;
  }
  threads = static_cast<int>(parsed);
  return true;
}

void fileExists(const char *path) {
  // Checked before opening: opening a FIFO for reading would wait for a writer forever.
  const std::string kind = torva::nonRegularKind(path);
  if (!kind.empty())
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           std::string(path) + " is " + kind + ", not a regular file\n");
  std::FILE *f = std::fopen(path, "r");
  if (f == nullptr) {
    const std::string reason = std::strerror(errno);
    std::fputs((std::string("error: File ") + path + " does not exist\n").c_str(), stdout);
    torva::exitWithMessage(torva::kExitInputError, stderr,
                           std::string("cannot open ") + path + ": " + reason + "\n");
  }
  std::fclose(f);
}

namespace torva {

void answerHelpOrVersion(bool help, bool version, const char *name, const std::string &helpText) {
  if (help)
    exitWithMessage(kExitSuccess, stdout, helpText);
  if (version)
    exitWithMessage(kExitSuccess, stdout, versionLine(name) + "\n");
}

void exitWithUsageProblem(const char *name, const std::string &problem, const std::string &usage) {
  std::string line = std::string(name) + ": " + problem;
  if (line.back() != '\n')
    line += '\n';
  exitWithMessage(kExitUsage, stderr, line + usage);
}

} // namespace torva
