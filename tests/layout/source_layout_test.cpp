// The source tree as a reader meets it: which folder may include which, what driver/ holds, and
// that every folder says what it owns. Checked on the real tree and, to show the check can fail,
// on small trees made here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The folders each folder may include besides itself. A library folder never includes a
// command's folder, and run/ never includes shard/, so the graph has no cycle.
const std::map<std::string, std::set<std::string>> kAllowedIncludes = {
    {"util", {}},
    {"data", {"util"}},
    {"bn", {"data", "util"}},
    {"segment", {"data", "util"}},
    {"roi", {"segment", "bn", "data", "util"}},
    {"evidence", {"roi", "bn", "data", "util"}},
    {"dataset", {"util"}},
    {"results", {"util"}},
    {"run", {"results", "roi", "segment", "evidence", "bn", "data", "util"}},
    {"shard", {"run", "results", "roi", "evidence", "data", "util"}},
    {"driver", {"shard", "run", "results", "roi", "evidence", "bn", "data", "util"}},
    {"merge", {"shard", "run", "results", "roi", "bn", "data", "util"}},
    {"permute", {"run", "results", "roi", "evidence", "data", "util"}},
    {"prepare", {"run", "results", "roi", "data", "util"}},
    {"report", {"run", "results", "evidence", "roi", "bn", "data", "util"}},
    {"slurm", {"run", "data", "util"}},
};

// The folders of the commands, each a main.cpp and what only it uses.
const std::set<std::string> kCommandFolders = {"driver",  "merge",  "permute",
                                               "prepare", "report", "slurm"};

// driver/ is the analysis command only; what other commands share lives elsewhere.
const std::set<std::string> kDriverFiles = {"README.md", "main.cpp", "command.h", "command.cpp"};

// The folder of a line `#include "folder/..."`, or "" for any other line (system headers and
// includes without a folder are not part of the graph).
std::string includedFolder(const std::string &line) {
  std::size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos || line[at] != '#')
    return std::string();
  at = line.find_first_not_of(" \t", at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0)
    return std::string();
  at = line.find_first_not_of(" \t", at + 7);
  if (at == std::string::npos || line[at] != '"')
    return std::string();
  const std::size_t end = line.find_first_not_of("abcdefghijklmnopqrstuvwxyz_", at + 1);
  if (end == std::string::npos || end == at + 1 || line[end] != '/')
    return std::string();
  return line.substr(at + 1, end - at - 1);
}

// Every break of the rules above in the tree at `root` (a src/ folder), one line each.
std::vector<std::string> layoutProblems(const fs::path &root) {
  std::vector<std::string> problems;
  for (const fs::directory_entry &folder : fs::directory_iterator(root)) {
    if (!folder.is_directory())
      continue;
    const std::string name = folder.path().filename().string();
    const auto allowed = kAllowedIncludes.find(name);
    if (allowed == kAllowedIncludes.end()) {
      problems.push_back("src/" + name + " is not a folder of the layout");
      continue;
    }
    if (!fs::exists(folder.path() / "README.md"))
      problems.push_back("src/" + name + " has no README.md saying what it owns");
    for (const fs::directory_entry &file : fs::recursive_directory_iterator(folder.path())) {
      if (!file.is_regular_file())
        continue;
      const std::string relative = fs::relative(file.path(), root).string();
      if (name == "driver" && kDriverFiles.count(file.path().filename().string()) == 0)
        problems.push_back(relative + " is in driver/, which holds only the analysis command");
      std::ifstream in(file.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        const std::string target = includedFolder(line);
        if (target.empty() || target == name || allowed->second.count(target) != 0)
          continue;
        const std::string where = relative + ":" + std::to_string(number);
        if (kCommandFolders.count(target) != 0)
          problems.push_back(where + " includes the command folder " + target + "/");
        else
          problems.push_back(where + " includes " + target + "/, which " + name +
                             "/ may not include");
      }
    }
  }
  return problems;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += line + "\n";
  return text;
}

void writeSource(const fs::path &path, const std::string &text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

TEST(SourceLayout, TheTreeKeepsItsIncludeGraphAndDriverHoldsOnlyTheCommand) {
  const std::vector<std::string> problems = layoutProblems(TORVA_SOURCE_DIR);
  EXPECT_TRUE(problems.empty()) << joined(problems);
}

TEST(SourceLayout, EveryFolderOfTheTableExists) {
  for (const auto &entry : kAllowedIncludes)
    EXPECT_TRUE(fs::is_directory(fs::path(TORVA_SOURCE_DIR) / entry.first)) << entry.first;
}

// A small tree with one break of each kind: every one is reported, and nothing else.
TEST(SourceLayout, ReportsEachKindOfBreakInAMadeTree) {
  testsupport::ScopedTempDir dir;
  const fs::path root = fs::path(dir.path()) / "src";
  for (const char *folder : {"util", "roi", "run", "driver", "merge"})
    writeSource(root / folder / "README.md", "owns\n");
  writeSource(root / "util" / "a.h", "#pragma once\n#include <string>\n");
  writeSource(
      root / "roi" / "b.cpp",
      "#include \"roi/b.h\"\n#include \"util/a.h\"\n#include \"local.h\"\n#include <sys/stat.h>\n");
  writeSource(root / "run" / "c.cpp", "#include \"util/a.h\"\n  # include \"driver/command.h\"\n");
  writeSource(root / "driver" / "main.cpp", "#include \"run/c.h\"\n#include \"merge/d.h\"\n");
  writeSource(root / "driver" / "ensemble.cpp", "#include \"run/c.h\"\n");
  writeSource(root / "merge" / "d.cpp", "#include \"util/a.h\"\n// #include \"driver/x.h\"\n");
  writeSource(root / "util" / "e.cpp", "#include \"roi/b.h\"\n");
  writeSource(root / "extra" / "f.h", "#pragma once\n");
  fs::create_directories(root / "shard");

  std::vector<std::string> problems = layoutProblems(root);
  std::sort(problems.begin(), problems.end());
  const std::vector<std::string> expected = {
      "driver/ensemble.cpp is in driver/, which holds only the analysis command",
      "driver/main.cpp:2 includes the command folder merge/",
      "run/c.cpp:2 includes the command folder driver/",
      "src/extra is not a folder of the layout",
      "src/shard has no README.md saying what it owns",
      "util/e.cpp:1 includes roi/, which util/ may not include",
  };
  EXPECT_EQ(problems, expected) << joined(problems);
}

} // namespace
