#include "slurm/run_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "util/whole_number.h"

namespace {

// Words of the head: "subjects" K "nodes" n "size" X Y Z and the three column names.
constexpr std::size_t kHeadWords = 11;

std::string systemError(const std::string &what, const std::string &path) {
  return "torvacoreel-slurm: cannot " + what + " " + path + ": " + std::strerror(errno) + "\n";
}

} // namespace

bool absoluteListText(const std::string &listText, const std::string &baseFolder,
                      std::string &absoluteText, std::string &error) {
  std::istringstream in(listText);
  std::vector<std::string> words;
  for (std::string word; in >> word;)
    words.push_back(word);
  if (words.size() < kHeadWords) {
    error = "torvacoreel-slurm: the file list ends inside its head\n";
    return false;
  }
  long subjects = 0;
  if (!wholeNumberOf(words[1], subjects)) {
    error = "torvacoreel-slurm: the file list's subject count '" + words[1] +
            "' is not a whole number\n";
    return false;
  }
  // Compared by division: three words per subject could overflow for a huge count.
  if (subjects < 1 || static_cast<unsigned long>(subjects) > (words.size() - kHeadWords) / 3) {
    error = "torvacoreel-slurm: the file list holds fewer entries than its subject count\n";
    return false;
  }
  std::string text = words[0] + " " + words[1] + "\n" + words[2] + " " + words[3] + "\n" +
                     words[4] + " " + words[5] + " " + words[6] + " " + words[7] + "\n" + words[8] +
                     " " + words[9] + " " + words[10] + "\n";
  for (long k = 0; k < subjects; ++k) {
    const std::size_t at = kHeadWords + 3 * static_cast<std::size_t>(k);
    const std::string &path = words[at + 1];
    text += words[at] + " " + (path.front() == '/' ? path : baseFolder + "/" + path) + " " +
            words[at + 2] + "\n";
  }
  absoluteText = text;
  return true;
}

bool checkRunFolderPath(const std::string &runFolder, std::string &error) {
  if (runFolder.find_first_of(" \t\n'\"\\%") == std::string::npos)
    return true;
  error = "torvacoreel-slurm: the run folder " + runFolder +
          " has a blank, quote, backslash or % in its path, which batch options cannot hold; "
          "start from a folder without them\n";
  return false;
}

bool writeTextFile(const std::string &path, const std::string &text, std::string &error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out)
    return true;
  error = "torvacoreel-slurm: cannot write " + path + "\n";
  return false;
}

bool prepareRunFolders(const RunLayout &layout, const std::string &listCopyText,
                       std::string &error) {
  if (mkdir(layout.shardRoot.c_str(), 0777) != 0) {
    error = errno == EEXIST ? "torvacoreel-slurm: " + layout.shardRoot +
                                  " already exists (an earlier run?); remove it or start from "
                                  "another folder\n"
                            : systemError("create", layout.shardRoot);
    return false;
  }
  if (!writeTextFile(layout.listCopy, listCopyText, error))
    return false;
  for (const std::string &folder : layout.shardFolders) {
    if (mkdir(folder.c_str(), 0777) != 0) {
      error = systemError("create", folder);
      return false;
    }
    for (const char *name : kSettingsFiles) {
      const std::string target = layout.runFolder + "/" + name;
      const std::string link = folder + "/" + name;
      if (access(target.c_str(), F_OK) == 0 && symlink(target.c_str(), link.c_str()) != 0) {
        error = systemError("link", link);
        return false;
      }
    }
  }
  return true;
}
