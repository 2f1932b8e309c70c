#include "results/result_transaction.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/stop_signal.h"
#include "util/whole_number.h"

namespace {

constexpr const char *kRunFolderPrefix = ".torva-run-";
// A run folder is made under this name and renamed once its lock is held, so that no other
// run ever sees a run folder without its lock.
constexpr const char *kNewFolderPrefix = ".torva-new-";
constexpr const char *kLockName = ".lock";
constexpr const char *kBackupPrefix = "previous-";
// What commit() returns when a stop signal came before the renames; the command then ends for
// the signal (util/stop_signal.h).
constexpr const char *kStopped = "stopped before the results were put in place\n";

// Never destroyed: the exit handler that reads it runs after static destructors may have.
std::vector<ResultTransaction *> &liveTransactions() {
  static auto *live = new std::vector<ResultTransaction *>();
  return *live;
}

void abortLiveTransactions() {
  for (ResultTransaction *transaction : liveTransactions())
    transaction->abort();
}

std::string reason() { return std::strerror(errno); }

std::string inFolder(const std::string &base, const std::string &name) {
  return base == "." ? name : base + "/" + name;
}

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

// Process id of a run folder name (".torva-run-<pid>" or ".torva-run-<pid>.<n>", or the
// ".torva-new-<pid>" of a run killed while making its folder), or 0 when `name` is not one.
long runFolderPid(const std::string &name) {
  std::string prefix = kRunFolderPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0)
    prefix = kNewFolderPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size())
    return 0;
  const std::string rest = name.substr(prefix.size());
  const std::string digits = rest.substr(0, rest.find('.'));
  unsigned long long pid = 0;
  if (digits.size() > 9 || parseDigits(digits, 999999999, pid) != WholeNumber::Ok)
    return 0;
  if (digits.size() < rest.size() &&
      (digits.size() + 1 == rest.size() ||
       rest.find_first_not_of("0123456789", digits.size() + 1) != std::string::npos))
    return 0;
  return static_cast<long>(pid);
}

// Opens the lock file of the run folder `path`; -1 when it has none.
int openLock(const std::string &path, int flags) {
  return ::open((path + "/" + kLockName).c_str(), flags | O_RDWR | O_CLOEXEC, 0600);
}

// Removes the run folder `path` when no live run owns it: its lock is free, or (a folder without
// a lock file, made by an older version) its process is gone from this host.
void removeIfStale(const std::string &path, long pid) {
  const int fd = openLock(path, 0);
  if (fd < 0) {
    if (errno == ENOENT && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
      removeTree(path);
    return;
  }
  // Held while the folder is removed, so a run that starts meanwhile sees it taken.
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
    removeTree(path);
  ::close(fd);
}

void removeStaleRunFolders(const std::string &base, const std::string &own) {
  const std::string ownPid = std::to_string(::getpid());
  DIR *dir = ::opendir(base.c_str());
  if (dir == nullptr)
    return;
  std::vector<std::pair<std::string, long>> found;
  while (const dirent *entry = ::readdir(dir)) {
    const long pid = runFolderPid(entry->d_name);
    if (pid > 0 && entry->d_name != own && entry->d_name != kNewFolderPrefix + ownPid)
      found.emplace_back(entry->d_name, pid);
  }
  ::closedir(dir);
  for (const auto &[name, pid] : found)
    removeIfStale(inFolder(base, name), pid);
}

// True when some run holds the lock of the run folder `path`.
bool lockIsHeld(const std::string &path) {
  const int fd = openLock(path, 0);
  if (fd < 0)
    return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

const char *kindOf(mode_t mode) {
  return S_ISDIR(mode) ? "a directory" : S_ISFIFO(mode) ? "a FIFO" : "not a regular file";
}

bool flushOne(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL; // EINVAL: cannot be synced at all
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return synced;
}

// fsync of `path` (a file or folder) and, for a folder, of everything in it.
bool flushTree(const std::string &path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0)
    return false;
  if (S_ISDIR(info.st_mode)) {
    DIR *dir = ::opendir(path.c_str());
    if (dir == nullptr)
      return false;
    bool ok = true;
    while (const dirent *entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        ok = flushTree(path + "/" + name) && ok;
    }
    ::closedir(dir);
    if (!ok)
      return false;
  } else if (!S_ISREG(info.st_mode)) {
    return true;
  }
  return flushOne(path);
}

} // namespace

std::string runFolderPath(const std::string &folder, const std::string &name) {
  return folder + "/" + name;
}

std::vector<RunFolderSeen> runFoldersIn(const std::string &base) {
  const std::string ownPid = std::to_string(::getpid());
  std::vector<RunFolderSeen> found;
  DIR *dir = ::opendir(base.c_str());
  if (dir == nullptr)
    return found;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const long pid = runFolderPid(name);
    if (pid > 0 && std::to_string(pid) != ownPid)
      found.push_back(RunFolderSeen{name, false});
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const RunFolderSeen &a, const RunFolderSeen &b) { return a.name < b.name; });
  for (RunFolderSeen &seen : found)
    seen.live = lockIsHeld(inFolder(base, seen.name));
  return found;
}

ResultTransaction::ResultTransaction(std::string base) : base_(std::move(base)) {
  static const bool registered = std::atexit(abortLiveTransactions) == 0;
  static_cast<void>(registered);
  liveTransactions().push_back(this);
}

ResultTransaction::~ResultTransaction() {
  abort();
  std::vector<ResultTransaction *> &live = liveTransactions();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

std::string ResultTransaction::open() {
  if (!folder_.empty())
    return std::string();
  const std::string pid = std::to_string(::getpid());
  // Another host sharing the folder may run a process of the same id; its folder is left alone.
  std::string name = kRunFolderPrefix + pid;
  for (int n = 1; lockIsHeld(inFolder(base_, name)); ++n)
    name = kRunFolderPrefix + pid + "." + std::to_string(n);
  removeStaleRunFolders(base_, name);
  const std::string folder = inFolder(base_, name);
  const std::string fresh = inFolder(base_, kNewFolderPrefix + pid);
  removeTree(folder); // left by an earlier process that had the same id
  removeTree(fresh);
  if (::mkdir(fresh.c_str(), 0700) != 0)
    return "cannot create the folder " + folder + " for this run's result files in the " +
           (base_ == "." ? std::string("working folder") : "folder " + base_) + ": " + reason() +
           "\n";
  lockFd_ = openLock(fresh, O_CREAT);
  if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0 ||
      ::rename(fresh.c_str(), folder.c_str()) != 0) {
    const std::string message =
        "cannot lock the folder " + folder + " for this run's result files: " + reason() + "\n";
    release();
    removeTree(fresh);
    return message;
  }
  folder_ = folder;
  return std::string();
}

std::string ResultTransaction::tempPath(const std::string &name) const {
  return runFolderPath(folder_, name);
}

std::string ResultTransaction::backupPath(const std::string &name) const {
  return runFolderPath(folder_, kBackupPrefix + name);
}

std::string ResultTransaction::targetPath(const std::string &name) const {
  return inFolder(base_, name);
}

std::string ResultTransaction::stagedPath(const std::string &name, long long expectedBytes) {
  for (Staged &s : staged_) {
    if (s.name == name) {
      s.expectedBytes = expectedBytes;
      return tempPath(name);
    }
  }
  staged_.push_back(Staged{name, expectedBytes, false});
  return tempPath(name);
}

std::string ResultTransaction::stagedFolder(const std::string &name) {
  const std::string path = tempPath(name);
  if (folder_.empty() || (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST))
    return std::string();
  if (std::none_of(staged_.begin(), staged_.end(), [&](const Staged &s) { return s.name == name; }))
    staged_.push_back(Staged{name, -1, true});
  return path;
}

std::string ResultTransaction::checkStaged() const {
  for (const Staged &s : staged_) {
    struct stat info {};
    const std::string path = tempPath(s.name);
    if (::lstat(path.c_str(), &info) != 0)
      return "result file " + s.name + " was not written (" + path + ": " + reason() + ")\n";
    if (s.folder) {
      if (!S_ISDIR(info.st_mode))
        return "result folder " + s.name + " was not written (" + path + " is " +
               kindOf(info.st_mode) + ")\n";
      continue;
    }
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
    const std::string target = targetPath(s.name);
    if (::lstat(target.c_str(), &info) != 0) {
      if (errno == ENOENT)
        continue;
      return "cannot replace the result file " + target + ": " + reason() + "\n";
    }
    const bool fits =
        s.folder ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode) || S_ISLNK(info.st_mode);
    if (!fits)
      return "cannot replace the result " + std::string(s.folder ? "folder " : "file ") + target +
             ": the " + (base_ == "." ? std::string("working folder") : "folder " + base_) +
             " holds " + kindOf(info.st_mode) + " of that name; move it away and run again\n";
  }
  return std::string();
}

std::string ResultTransaction::flushStaged() const {
  for (const Staged &s : staged_) {
    if (torva::stopRequested()) // flushing a large file can take a while
      return kStopped;
    if (!flushTree(tempPath(s.name)))
      return "cannot write the result " + std::string(s.folder ? "folder " : "file ") + s.name +
             " to disk: " + reason() + "\n";
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
      removeTree(targetPath(s->name));
    for (const Staged *s : backedUp)
      std::rename(backupPath(s->name).c_str(), targetPath(s->name).c_str());
  };
  for (const Staged &s : staged_) {
    struct stat info {};
    const std::string target = targetPath(s.name);
    if (::lstat(target.c_str(), &info) != 0)
      continue;
    if (std::rename(target.c_str(), backupPath(s.name).c_str()) != 0) {
      const std::string message = "cannot replace the result file " + target + ": " + reason();
      rollBack();
      return message + "\n";
    }
    backedUp.push_back(&s);
  }
  for (const Staged &s : staged_) {
    const std::string target = targetPath(s.name);
    if (std::rename(tempPath(s.name).c_str(), target.c_str()) != 0) {
      const std::string message = "cannot put the result file " + target + " in place: " + reason();
      rollBack();
      return message + "\n";
    }
    placed.push_back(&s);
  }
  // The renames reach the disk with the folder; a folder that cannot be synced is no error.
  flushOne(base_);
  return std::string();
}

std::string ResultTransaction::commit() {
  if (folder_.empty())
    return "no result was written: the run folder was never created\n";
  std::string problem = checkStaged();
  if (problem.empty())
    problem = checkTargets();
  if (problem.empty())
    problem = flushStaged();
  if (problem.empty() && torva::stopRequested())
    problem = kStopped;
  if (problem.empty()) {
    // Renames stopped halfway would leave some new results beside old ones; once they begin, a
    // stop signal waits for them and the command ends as it would have.
    torva::finishDespiteStopSignals();
    problem = moveIntoPlace();
  }
  release();
  return problem;
}

void ResultTransaction::abort() { release(); }

// The folder goes before its lock, so no other run can take it for stale while it is in use.
void ResultTransaction::release() {
  if (!folder_.empty())
    removeTree(folder_);
  if (lockFd_ >= 0)
    ::close(lockFd_);
  lockFd_ = -1;
  folder_.clear();
  staged_.clear();
}
