#pragma once
// The state of a working folder for the tests that check that a failed or stopped command left
// every earlier file as it was and no run folder (".torva-run-<pid>", ".torva-new-<pid>") behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/temp_dir.h"

namespace testsupport {

inline bool isRunFolder(const std::string &name) {
  return name.rfind(".torva-run-", 0) == 0 || name.rfind(".torva-new-", 0) == 0;
}

// Every regular file below `folder` (symbolic links not followed) with its bytes; run folders
// go to `runFolders`. The commands' standard streams of the tests (stdout.txt and stderr.txt in
// the working folder) and the working-folder locks, which record their holder, are left out.
inline void collectFiles(const std::string &folder, std::map<std::string, std::string> &files,
                         std::vector<std::string> &runFolders) {
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr)
    return;
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    const std::string path = folder == "." ? name : folder + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
      continue;
    if (isRunFolder(name))
      runFolders.push_back(path);
    else if (S_ISDIR(info.st_mode))
      collectFiles(path, files, runFolders);
    else if (S_ISREG(info.st_mode) && path != "stdout.txt" && path != "stderr.txt" &&
             name != ".torva.lock")
      files[path] = readFile(path);
  }
  closedir(dir);
}

inline std::map<std::string, std::string> filesNow() {
  std::map<std::string, std::string> files;
  std::vector<std::string> runFolders;
  collectFiles(".", files, runFolders);
  return files;
}

// Every file of `before` is still there with the same bytes, and no run folder is anywhere.
inline void expectUnchangedAndNoRunFolder(const std::map<std::string, std::string> &before) {
  std::map<std::string, std::string> after;
  std::vector<std::string> runFolders;
  collectFiles(".", after, runFolders);
  for (const auto &[path, bytes] : before) {
    ASSERT_EQ(after.count(path), 1u) << path << " was removed";
    EXPECT_TRUE(after.at(path) == bytes) << path << " was changed";
  }
  EXPECT_TRUE(runFolders.empty()) << runFolders.front() << " was left behind";
}

// True when `folder` holds a run folder (of the kind `prefix` names, if given).
inline bool hasRunFolder(const std::string &folder, const std::string &prefix = "") {
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr)
    return false;
  bool found = false;
  while (const dirent *entry = readdir(dir))
    found =
        found || (isRunFolder(entry->d_name) && std::string(entry->d_name).rfind(prefix, 0) == 0);
  closedir(dir);
  return found;
}

} // namespace testsupport
