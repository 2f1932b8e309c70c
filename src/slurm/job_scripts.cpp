#include "slurm/job_scripts.h"

#include "data/study_reader.h"
#include "util/shell_quote.h"

RunLayout planLayout(const std::string &runFolder, int shards, const std::string &programFolder) {
  RunLayout layout;
  layout.runFolder = runFolder;
  layout.shardRoot = runFolder + "/" + kShardRootName;
  layout.listCopy = layout.shardRoot + "/study.filelist";
  for (int k = 0; k < shards; ++k)
    layout.shardFolders.push_back(layout.shardRoot + "/shard_" + std::to_string(k));
  const std::string prefix = programFolder.empty() ? "" : programFolder + "/";
  layout.analysisProgram = prefix + "torvacoreel";
  layout.mergeProgram = prefix + "torvacoreel-merge";
  return layout;
}

long long estimateMemoryMiB(const FileList &list, int threads) {
  const long long voxels = static_cast<long long>(list.x) * list.y * list.z;
  const long long subjects = list.subjectCount;
  const long long studyBits = voxels * ((subjects + 63) / 64) * 8;
  const long long perThread = 192 * voxels;
  const long long bytes = studyBits + threads * perThread + (64LL << 20);
  return (bytes + (1LL << 20) - 1) >> 20;
}

namespace {

// The #SBATCH lines both jobs share.
std::string commonOptions(const SlurmRequest &request, const std::string &memory) {
  std::string lines = "#SBATCH --mem=" + memory +
                      "\n#SBATCH --cpus-per-task=" + std::to_string(request.threads) + "\n";
  if (!request.time.empty())
    lines += "#SBATCH --time=" + request.time + "\n";
  if (!request.partition.empty())
    lines += "#SBATCH --partition=" + request.partition + "\n";
  return lines;
}

// The analysis would otherwise start a thread per core of the node, beyond the CPUs and memory
// the job asked for.
std::string threadsLine(const SlurmRequest &request) {
  return "export TORVA_THREADS=" + std::to_string(request.threads) + "\n";
}

std::string analysisArguments(const SlurmRequest &request, const RunLayout &layout) {
  return shellQuoted(layout.listCopy) + " " + std::to_string(request.method) + " " +
         std::to_string(request.sizeArgument);
}

} // namespace

std::string shardArrayScript(const SlurmRequest &request, const RunLayout &layout,
                             const std::string &memory) {
  const std::string count = std::to_string(request.shards);
  const std::string folderPattern = layout.shardRoot + "/shard_%a";
  return "#!/bin/bash\n"
         "#SBATCH --job-name=torva-shards\n"
         "#SBATCH --array=0-" +
         std::to_string(request.shards - 1) + "\n#SBATCH --output=" + folderPattern +
         "/progress.txt\n#SBATCH --error=" + folderPattern + "/errors.txt\n" +
         commonOptions(request, memory) + threadsLine(request) +
         "# Each shard runs in its own folder: the analysis locks its working folder and keeps\n"
         "# temporary files there. The folder links the run folder's settings files.\n"
         "cd " +
         shellQuoted(layout.shardRoot) + "/shard_\"$SLURM_ARRAY_TASK_ID\" || exit 1\n" +
         "TORVA_SHARD=\"$SLURM_ARRAY_TASK_ID/" + count + "\" exec " +
         shellQuoted(layout.analysisProgram) + " " + analysisArguments(request, layout) + "\n";
}

std::string mergeScript(const SlurmRequest &request, const RunLayout &layout,
                        const std::string &memory) {
  std::string folders;
  std::string progressFiles;
  for (const std::string &folder : layout.shardFolders) {
    folders += " " + shellQuoted(folder);
    progressFiles += " " + shellQuoted(folder + "/progress.txt");
  }
  const std::string progress = shellQuoted(layout.shardRoot + "/progress.txt");
  return "#!/bin/bash\n"
         "#SBATCH --job-name=torva-merge\n"
         "#SBATCH --output=" +
         layout.shardRoot + "/merge.txt\n#SBATCH --error=" + layout.shardRoot +
         "/merge_errors.txt\n" + commonOptions(request, memory) + threadsLine(request) +
         "# The results go to the run folder, beside its settings files.\n"
         "cd " +
         shellQuoted(layout.runFolder) +
         " || exit 1\n"
         "# The shards' progress text, in shard order, then the merge's: the whole run's text.\n"
         "cat" +
         progressFiles + " > " + progress + " || exit 1\n" + "exec " +
         shellQuoted(layout.mergeProgram) + " " + analysisArguments(request, layout) + folders +
         " >> " + progress + "\n";
}
