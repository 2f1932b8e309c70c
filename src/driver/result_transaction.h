#pragma once
// Result files written as one unit. Each result is written under a temporary name in a per-run
// folder inside the working folder (".torva-run-<pid>") and renamed into place only when every
// result was written and checked, so a failed run leaves the results of an earlier run intact.
// The driver may also keep other per-run files (iteration label files) in folder(); whatever
// is left there is removed with the folder.
#include <string>
#include <vector>

class ResultTransaction {
public:
  ResultTransaction();
  // Removes the run folder unless committed. The process usually ends through exit(), which
  // skips this destructor: an exit handler then removes the folder of the live transaction.
  ~ResultTransaction();
  ResultTransaction(const ResultTransaction &) = delete;
  ResultTransaction &operator=(const ResultTransaction &) = delete;

  // Creates the run folder, first removing the folders of earlier runs whose process is gone
  // (a killed run cannot clean up). Call it only while holding the working-folder lock. Returns
  // "" or a message naming the folder. A second call does nothing.
  std::string open();

  // The run folder relative to the working folder; empty before open().
  const std::string &folder() const { return folder_; }

  // Temporary path for the result `name` (a plain file name), which commit() renames to `name`.
  // `expectedBytes` is the size the file must have by then; -1 asks only for a non-empty file.
  std::string stagedPath(const std::string &name, long long expectedBytes = -1);

  // Checks that every staged file is a regular file of its expected size and that no result
  // name is taken by a directory or other non-regular file, then renames all into place and
  // removes the folder. Returns "" or a message naming the file; after a failure every earlier
  // result is as it was and the temporaries are removed.
  std::string commit();

  // Removes the run folder and everything in it; nothing is renamed.
  void abort();

private:
  struct Staged {
    std::string name;
    long long expectedBytes;
  };
  std::string tempPath(const std::string &name) const;
  std::string backupPath(const std::string &name) const;
  std::string checkStaged() const;
  std::string checkTargets() const;
  std::string moveIntoPlace();

  std::string folder_;
  std::vector<Staged> staged_;
};

// "<folder>/<name>" for a file kept in the run folder.
std::string runFolderPath(const std::string &folder, const std::string &name);
