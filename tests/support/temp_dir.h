#pragma once
// Test helpers: a fresh working directory per test (the program reads and writes fixed file
// names in the current directory), and small file utilities.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Creates a fresh directory from `pattern` (ending in XXXXXX) and returns its path.
inline std::string makeTempDirectory(std::string pattern) {
  const char *made = mkdtemp(&pattern[0]);
  if (made == nullptr)
    std::abort();
  return made;
}

// Creates a temporary directory, makes it the working directory, and restores the previous
// working directory (removing the temporary one) when destroyed.
class ScopedTempDir {
public:
  ScopedTempDir() : path_(makeTempDirectory("/tmp/torva-test-XXXXXX")) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr)
      std::abort();
    previous_ = cwd;
    if (chdir(path_.c_str()) != 0)
      std::abort();
  }
  ~ScopedTempDir() {
    if (chdir(previous_.c_str()) != 0)
      std::abort();
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0)
      std::fprintf(stderr, "could not remove %s\n", path_.c_str());
  }
  ScopedTempDir(const ScopedTempDir &) = delete;
  ScopedTempDir &operator=(const ScopedTempDir &) = delete;
  const std::string &path() const { return path_; }

private:
  std::string path_;
  std::string previous_;
};

inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Number of non-overlapping occurrences of `piece` in `text`.
inline int countOf(const std::string &text, const std::string &piece) {
  int count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos;
       at = text.find(piece, at + piece.size()))
    ++count;
  return count;
}

inline void writeFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Entries of the working directory whose names start with `prefix` (such as a run's folder of
// temporary results, ".torva-run-").
inline int countEntriesStartingWith(const std::string &prefix) {
  int count = 0;
  for (const auto &entry : std::filesystem::directory_iterator("."))
    count += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

inline bool fileExistsOnDisk(const std::string &path) {
  std::ifstream in(path);
  return static_cast<bool>(in);
}

// Every result file of a whole run, as written into the working folder.
inline const char *const kRunResultFiles[] = {"model.el.torva",
                                              "bn.el.torva",
                                              "bn.el.xdsl",
                                              "log.el.torva",
                                              "roi.el.torva",
                                              "log.torva",
                                              "label_field_torvael.nii",
                                              "label_field_torvael.hdr",
                                              "label_field_torvael.img",
                                              "prob_map_torvael.nii",
                                              "prob_map_torvael.hdr",
                                              "prob_map_torvael.img",
                                              "prediction.tsv",
                                              "prediction_summary.tsv"};

// A folder that sees the study folder "study" under the same relative paths as the working
// folder, for runs side by side.
inline void makeRunFolder(const std::string &folder) {
  ASSERT_EQ(
      std::system(("mkdir -p " + folder + " && ln -sfn ../study " + folder + "/study").c_str()), 0);
}

// Runs a shell command in the current directory; returns its exit status (or -1), with the
// standard output and standard error captured into files of the working directory.
inline int runCommand(const std::string &command, const std::string &stdoutFile = "stdout.txt",
                      const std::string &stderrFile = "stderr.txt") {
  const std::string full = command + " > " + stdoutFile + " 2> " + stderrFile;
  const int status = std::system(full.c_str());
  if (status == -1 || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

} // namespace testsupport
