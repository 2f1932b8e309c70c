#include "driver/result_transaction.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kRunFolderPrefix = ".torva-run-";
constexpr const char *kBackupPrefix = "previous-";

ResultTransaction *liveTransaction = nullptr;

void abortLiveTransaction() {
  if (liveTransaction != nullptr)
    liveTransaction->abort();
}

std::string reason() { return std::strerror(errno); }

// Removes `path` and, for a folder, everything below it.
void removeTree(const std::string &path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0)
    return;
  if (S_ISDIR(info.st_mode)) {
    if (DIR *dir = ::opendir(path.c_str())) {
      while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
          removeTree(path + "/" + name);
      }
      ::closedir(dir);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

// Process id of a run folder name, or 0 when `name` is not one.
long runFolderPid(const std::string &name) {
  const std::string prefix = kRunFolderPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size())
    return 0;
  const std::string digits = name.substr(prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
    return 0;
  return std::atol(digits.c_str());
}

void removeStaleRunFolders() {
  DIR *dir = ::opendir(".");
  if (dir == nullptr)
    return;
  std::vector<std::string> stale;
  while (const dirent *entry = ::readdir(dir)) {
    const long pid = runFolderPid(entry->d_name);
    if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      stale.push_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string &name : stale)
    removeTree(name);
}

const char *kindOf(mode_t mode) {
  return S_ISDIR(mode) ? "a directory" : S_ISFIFO(mode) ? "a FIFO" : "not a regular file";
}

} // namespace

std::string runFolderPath(const std::string &folder, const std::string &name) {
  return folder + "/" + name;
}

ResultTransaction::ResultTransaction() {
  static const bool registered = std::atexit(abortLiveTransaction) == 0;
  static_cast<void>(registered);
  liveTransaction = this;
}

ResultTransaction::~ResultTransaction() {
  abort();
  if (liveTransaction == this)
    liveTransaction = nullptr;
}

std::string ResultTransaction::open() {
  if (!folder_.empty())
    return std::string();
  removeStaleRunFolders();
  const std::string folder = kRunFolderPrefix + std::to_string(::getpid());
  removeTree(folder); // left by an earlier process that had the same id
  if (::mkdir(folder.c_str(), 0700) != 0)
    return "cannot create the folder " + folder + " for this run's result files in the working " +
           "folder: " + reason() + "\n";
  folder_ = folder;
  return std::string();
}

std::string ResultTransaction::tempPath(const std::string &name) const {
  return runFolderPath(folder_, name);
}

std::string ResultTransaction::backupPath(const std::string &name) const {
  return runFolderPath(folder_, kBackupPrefix + name);
}

std::string ResultTransaction::stagedPath(const std::string &name, long long expectedBytes) {
  for (Staged &s : staged_) {
    if (s.name == name) {
      s.expectedBytes = expectedBytes;
      return tempPath(name);
    }
  }
  staged_.push_back(Staged{name, expectedBytes});
  return tempPath(name);
}

std::string ResultTransaction::checkStaged() const {
  for (const Staged &s : staged_) {
    struct stat info {};
    const std::string path = tempPath(s.name);
    if (::lstat(path.c_str(), &info) != 0)
      return "result file " + s.name + " was not written (" + path + ": " + reason() + ")\n";
    const long long size = static_cast<long long>(info.st_size);
    if (!S_ISREG(info.st_mode) || (s.expectedBytes < 0 ? size == 0 : size != s.expectedBytes))
      return "result file " + s.name + " was not written completely: " + std::to_string(size) +
             " bytes" +
             (s.expectedBytes < 0 ? std::string()
                                  : " of " + std::to_string(s.expectedBytes) + " expected") +
             "\n";
  }
  return std::string();
}

std::string ResultTransaction::checkTargets() const {
  for (const Staged &s : staged_) {
    struct stat info {};
    if (::lstat(s.name.c_str(), &info) != 0) {
      if (errno == ENOENT)
        continue;
      return "cannot replace the result file " + s.name + ": " + reason() + "\n";
    }
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
      return "cannot replace the result file " + s.name + ": the working folder holds " +
             kindOf(info.st_mode) + " of that name; move it away and run again\n";
  }
  return std::string();
}

// Earlier results move into the run folder first, so that a rename failing halfway can put
// every one of them back.
std::string ResultTransaction::moveIntoPlace() {
  std::vector<const Staged *> backedUp;
  std::vector<const Staged *> placed;
  auto rollBack = [&]() {
    for (const Staged *s : placed)
      ::unlink(s->name.c_str());
    for (const Staged *s : backedUp)
      std::rename(backupPath(s->name).c_str(), s->name.c_str());
  };
  for (const Staged &s : staged_) {
    struct stat info {};
    if (::lstat(s.name.c_str(), &info) != 0)
      continue;
    if (std::rename(s.name.c_str(), backupPath(s.name).c_str()) != 0) {
      const std::string message = "cannot replace the result file " + s.name + ": " + reason();
      rollBack();
      return message + "\n";
    }
    backedUp.push_back(&s);
  }
  for (const Staged &s : staged_) {
    if (std::rename(tempPath(s.name).c_str(), s.name.c_str()) != 0) {
      const std::string message = "cannot put the result file " + s.name + " in place: " + reason();
      rollBack();
      return message + "\n";
    }
    placed.push_back(&s);
  }
  return std::string();
}

std::string ResultTransaction::commit() {
  if (folder_.empty())
    return "no result was written: the run folder was never created\n";
  std::string problem = checkStaged();
  if (problem.empty())
    problem = checkTargets();
  if (problem.empty())
    problem = moveIntoPlace();
  removeTree(folder_);
  folder_.clear();
  staged_.clear();
  return problem;
}

void ResultTransaction::abort() {
  if (!folder_.empty())
    removeTree(folder_);
  folder_.clear();
  staged_.clear();
}
