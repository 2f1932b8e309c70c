#pragma once
// Result files written as one unit. Each result is written under a temporary name in a per-run
// folder (".torva-run-<pid>") inside the folder the results belong in, and renamed into place
// only when every result was written and checked, so a failed run leaves the results of an
// earlier run intact. The staged files are flushed to disk before the renames and the folder
// after them, so that a rename that survives a power loss never names an empty file.
//
// A run folder lives as long as its run holds the lock on the file ".lock" inside it. A folder
// whose lock no one holds belongs to a run that ended without cleaning up (killed, or a zombie
// not yet reaped) and is removed by the next run, from whichever host shares the folder.
//
// The driver may also keep other per-run files (iteration label files) in folder(); whatever
// is left there is removed with the folder.
#include <string>
#include <vector>

class ResultTransaction {
public:
  // Results go into `base` (the working folder by default), which must exist by open().
  explicit ResultTransaction(std::string base = ".");
  // Removes the run folder unless committed. The process usually ends through exit(), which
  // skips this destructor: an exit handler then removes the folders of the live transactions.
  ~ResultTransaction();
  ResultTransaction(const ResultTransaction &) = delete;
  ResultTransaction &operator=(const ResultTransaction &) = delete;

  // Creates the run folder and takes its lock, first removing the run folders in the base
  // folder that no live run holds (a killed run cannot clean up). Returns "" or a message
  // naming the folder. A second call does nothing.
  std::string open();

  // The run folder: relative to the working folder for the default base, else base/<name>;
  // empty before open().
  const std::string &folder() const { return folder_; }

  // Temporary path for the result `name` (a plain file name), which commit() renames to `name`.
  // `expectedBytes` is the size the file must have by then; -1 asks only for a non-empty file.
  std::string stagedPath(const std::string &name, long long expectedBytes = -1);

  // Creates and returns a temporary folder for the result folder `name`, whose files the
  // caller writes; commit() puts it in place of any earlier folder of that name as a whole.
  // Returns "" when the folder cannot be created.
  std::string stagedFolder(const std::string &name);

  // Checks that every staged file is a regular file of its expected size and that no result
  // name is taken by an entry of another kind, flushes the staged files, renames all into place,
  // flushes the base folder and removes the run folder. Returns "" or a message naming the
  // file; after a failure every earlier result is as it was and the temporaries are removed.
  std::string commit();

  // Removes the run folder and everything in it; nothing is renamed.
  void abort();

private:
  struct Staged {
    std::string name;
    long long expectedBytes;
    bool folder;
  };
  std::string tempPath(const std::string &name) const;
  std::string backupPath(const std::string &name) const;
  std::string targetPath(const std::string &name) const;
  std::string checkStaged() const;
  std::string checkTargets() const;
  std::string flushStaged() const;
  std::string moveIntoPlace();
  void release();

  std::string base_;
  std::string folder_;
  int lockFd_ = -1;
  std::vector<Staged> staged_;
};

// "<folder>/<name>" for a file kept in the run folder.
std::string runFolderPath(const std::string &folder, const std::string &name);

// A run folder found in some folder, and whether the run that made it still holds its lock.
struct RunFolderSeen {
  std::string name;
  bool live = false;
};

// The run folders of other processes in `base` (".torva-run-<pid>" and the ".torva-new-<pid>" of
// a run that was making its folder), in name order: runs that are still going, or that were
// stopped before they were done.
std::vector<RunFolderSeen> runFoldersIn(const std::string &base);
