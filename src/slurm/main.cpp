// torvacoreel-slurm fileList method size --shards N [--threads T] [--partition P] [--time T]
//                   [--mem M] [--dry-run]
//
// Runs an analysis on a Slurm cluster: the iterations split into N shards run as one job array,
// then a merge job writes the results of the whole run into the current folder.
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "data/study_reader.h"
#include "run/startup.h"
#include "slurm/job_scripts.h"
#include "slurm/run_folder.h"
#include "slurm/sbatch.h"
#include "util/command_line.h"
#include "util/fatal.h"

namespace {

[[noreturn]] void fail(const std::string &message) {
  torva::exitWithMessage(torva::kExitInputError, stderr, message);
}

std::string currentFolder() {
  char path[PATH_MAX];
  if (getcwd(path, sizeof path) == nullptr)
    fail("torvacoreel-slurm: cannot read the current folder's path\n");
  return path;
}

// The folder of this program, which holds torvacoreel and torvacoreel-merge when they were built
// or installed together; empty when they are to be found on the PATH.
std::string programFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0)
    return {};
  const std::string self(path, static_cast<std::size_t>(length));
  const std::string folder = self.substr(0, self.rfind('/'));
  return access((folder + "/torvacoreel").c_str(), X_OK) == 0 ? folder : std::string();
}

std::string readWholeFile(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    fail("torvacoreel-slurm: cannot open file list " + path + "\n");
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    text.append(buffer, got);
  std::fclose(file);
  return text;
}

} // namespace

int main(int argc, char **argv) {
  SlurmRequest request;
  std::string error;
  if (!parseSlurmRequest(std::vector<std::string>(argv + 1, argv + argc), request, error))
    torva::exitWithMessage(torva::kExitUsage, stderr, error);
  torva::answerHelpOrVersion(request.help, request.version, "torvacoreel-slurm", slurmHelp());

  FileList list;
  if (ReadFailure problem = parseFileList(
          request.listPath, list, "cannot open file list " + request.listPath + "\n", false))
    fail(problem.message);
  const std::string runFolder = currentFolder();
  if (!checkRunFolderPath(runFolder, error))
    fail(error);
  std::string listCopyText;
  if (!absoluteListText(readWholeFile(request.listPath), runFolder, listCopyText, error))
    fail(error);

  const RunLayout layout = planLayout(runFolder, request.shards, programFolder());
  const std::string memory = request.memory.empty()
                                 ? std::to_string(estimateMemoryMiB(list, request.threads)) + "M"
                                 : request.memory;
  const std::string shardScript = shardArrayScript(request, layout, memory);
  const std::string merge = mergeScript(request, layout, memory);
  const std::string shardScriptPath = layout.shardRoot + "/shards.sbatch";
  const std::string mergeScriptPath = layout.shardRoot + "/merge.sbatch";

  if (request.dryRun) {
    std::printf("# %s\n%s\n# %s (submitted with --dependency=afterok:<shard array job id>)\n%s",
                shardScriptPath.c_str(), shardScript.c_str(), mergeScriptPath.c_str(),
                merge.c_str());
    torva::exitWithStatus(torva::kExitSuccess);
  }
  if (!prepareRunFolders(layout, listCopyText, error) ||
      !writeTextFile(shardScriptPath, shardScript, error) ||
      !writeTextFile(mergeScriptPath, merge, error))
    fail(error);
  std::string arrayJob;
  std::string mergeJob;
  if (!submitBatchScript(shardScriptPath, "", arrayJob, error)) {
    // Nothing was submitted: leave no folder that would block the corrected command.
    std::error_code ignored;
    std::filesystem::remove_all(layout.shardRoot, ignored);
    fail(error);
  }
  if (!submitBatchScript(mergeScriptPath, "--dependency=afterok:" + arrayJob, mergeJob, error))
    fail(error + "the shard array job " + arrayJob + " was submitted; cancel it with scancel " +
         arrayJob + "\n");
  std::printf("shard array job %s: %d shards in %s/shard_0 .. shard_%d\n"
              "merge job %s: starts when every shard has succeeded\n"
              "results: %s (progress text in %s/progress.txt)\n",
              arrayJob.c_str(), request.shards, layout.shardRoot.c_str(), request.shards - 1,
              mergeJob.c_str(), runFolder.c_str(), layout.shardRoot.c_str());
  torva::exitWithStatus(torva::kExitSuccess);
}
