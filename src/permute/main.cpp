// torvacoreel-permute [--permutations N] [--seed S] [--volume-bins B] [--out DIR] fileList
//                     [RESULTS_DIR]
//
// Family-wise error p-values of a finished run's regions: each region's gain on all subjects
// against the largest gain the search finds after shuffling the outcome within the strata of the
// earlier regions, and again within those strata crossed with lesion-volume bins. Run in the
// folder that holds the run's settings files, like the analysis.
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "data/decoded_study.h"
#include "data/img_io.h"
#include "data/study_view.h"
#include "evidence/permutation_test.h"
#include "permute/permute_inputs.h"
#include "permute/permute_options.h"
#include "results/result_transaction.h"
#include "roi/roi_settings.h"
#include "roi/screening.h"
#include "run/startup.h"
#include "util/command_line.h"
#include "util/fatal.h"
#include "util/stop_signal.h"

namespace {

using torva::exitWithMessage;

[[noreturn]] void refuse(const std::string &message) {
  exitWithMessage(torva::kExitInputError, stderr, message);
}

// Enters `dir` and returns a descriptor of the folder left, for leaveFolder.
int enterFolder(const std::string &dir) {
  const int previous = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (previous < 0 || ::chdir(dir.c_str()) != 0)
    refuse("output folder " + dir + " is missing or cannot be entered\n");
  return previous;
}

void leaveFolder(int previous) {
  if (::fchdir(previous) != 0)
    refuse("cannot return to the working folder\n");
  ::close(previous);
}

// The lock of the output folder, as the analysis takes it, for the whole run: no analysis or
// second permutation run can change the results while they are read and written.
void lockOutputFolder(const std::string &dir) {
  const int previous = enterFolder(dir);
  if (const std::string refused = lockWorkingFolder(); !refused.empty())
    refuse(refused);
  leaveFolder(previous);
}

// The analysis's settings, from this folder.
RoiSettings analysisSettings() {
  RoiSettings settings;
  std::ostringstream quiet; // the analysis's settings echo is not this command's output
  if (const std::string problem = readRoiSettings(settings, quiet); !problem.empty())
    refuse(problem);
  return settings;
}

// The analysis's candidate set on all subjects, with its settings and mask from this folder.
std::vector<int> screenedCandidates(const DecodedStudy &study, const RoiSettings &settings) {
  std::ostringstream quiet;
  std::vector<int> everyone(study.list.subjects.size());
  for (std::size_t k = 0; k < everyone.size(); ++k)
    everyone[k] = static_cast<int>(k);
  const StudyView full(study.subjects, everyone, study.list.x, study.list.y, study.list.z);
  std::vector<int> labels(static_cast<std::size_t>(full.voxels()), kLabelOutside);
  std::vector<int> V;
  formCandidateSet(V, labels, full, settings, quiet);
  return V;
}

void stageMap(ResultTransaction &results, const std::string &name, const std::vector<float> &map,
              const DecodedStudy &study, const ImageGeometry &geometry) {
  const FileList &list = study.list;
  const long long bytes = 352 + 4LL * static_cast<long long>(map.size());
  const std::string path = results.stagedPath(name, bytes);
  std::string error;
  if (!writeNiftiImage(path.c_str(), path.c_str(), map.data(), "NIFTI_TYPE_FLOAT32", list.x, list.y,
                       list.z, geometry, error))
    refuse(name + ": " + error);
}

void printSummary(const PermuteOptions &options, const PermutationResult &result) {
  std::printf("Permutation test: %ld permutations per region, seed %llu\n", options.permutations,
              static_cast<unsigned long long>(options.seed));
  if (result.regions.empty())
    std::printf("The run found no region: permutation.tsv holds the header only\n");
  for (const RegionPermutation &row : result.regions)
    std::printf("region %d (voxel %d): gain %.6f, p_fwe %.6f\n", row.region, row.repId, row.gain,
                row.pFwe);
  if (result.regions.empty())
    return;
  std::printf("Lesion-size control: the outcome also permuted within %d lesion-volume bins\n",
              options.volumeBins);
  for (const RegionPermutation &row : result.regions)
    std::printf("region %d (voxel %d): p_fwe_volume %.6f\n", row.region, row.repId, row.pFweVolume);
}

int run(int argc, char **argv) {
  PermuteOptions options;
  const std::string usageError =
      parsePermuteOptions(std::vector<std::string>(argv, argv + argc), options);
  if (!usageError.empty())
    torva::exitWithUsageProblem("torvacoreel-permute", usageError, kPermuteUsage);
  torva::answerHelpOrVersion(options.help, options.version, "torvacoreel-permute",
                             permuteHelpText());
  int threads = 1;
  std::string threadError;
  if (!threadCountFromEnvironment(threads, threadError))
    exitWithMessage(torva::kExitUsage, stderr, threadError);
  struct stat resultsFolder {};
  if (::stat(options.resultsDir.c_str(), &resultsFolder) != 0 || !S_ISDIR(resultsFolder.st_mode))
    refuse("results folder " + options.resultsDir +
           " is missing or is not a folder; give the folder of a finished run\n");
  torva::catchStopSignals("torvacoreel-permute");
  lockOutputFolder(options.outDir);
  // Staged from the start, as by the analysis: whatever ends the run removes the staged files.
  ResultTransaction results(options.outDir);
  if (const std::string refused = results.open(); !refused.empty())
    refuse(refused);

  DecodedStudy study;
  if (ReadFailure problem = decodeStudy(options.listPath, threads, study))
    exitWithMessage(torva::kExitInputError, problem.toStdout ? stdout : stderr, problem.message);
  std::fputs(study.list.extraEntriesWarning.c_str(), stderr);
  RunRegions regions;
  if (const std::string problem = readRunRegions(options.resultsDir, study, regions);
      !problem.empty())
    refuse(problem);
  const RoiSettings settings = analysisSettings();
  const PermutationStudy input{
      study.subjects,    study.list.nodeCount - 1, screenedCandidates(study, settings),
      regions.labels,    regions.representatives,  settings.representativeShare,
      options.volumeBins};

  PermutationResult result;
  // Every region's round, and round 1 for the maps when there is no region, is permuted.
  const long rounds = std::max<long>(static_cast<long>(regions.representatives.size()), 1);
  torva::ProgressLine line("permutation", rounds * options.permutations);
  runPermutationTest(input, options.permutations, options.seed, threads, result, &line);
  line.finish();
  printSummary(options, result);

  const std::string table = permutationTableText(result.regions);
  const std::string tablePath =
      results.stagedPath("permutation.tsv", static_cast<long long>(table.size()));
  std::FILE *file = std::fopen(tablePath.c_str(), "wb");
  if (file == nullptr || std::fwrite(table.data(), 1, table.size(), file) != table.size() ||
      std::fclose(file) != 0)
    refuse("permutation.tsv: cannot write it in " + options.outDir + "\n");
  stageMap(results, "gain_map.nii", result.gainMap, study, regions.geometry);
  stageMap(results, "gain_corrp_map.nii", result.corrpMap, study, regions.geometry);
  stageMap(results, "gain_corrp_volume_map.nii", result.corrpVolumeMap, study, regions.geometry);
  if (const std::string problem = results.commit(); !problem.empty())
    refuse(problem);
  std::printf("Results in %s: permutation.tsv, gain_map.nii, gain_corrp_map.nii, "
              "gain_corrp_volume_map.nii\n",
              options.outDir.c_str());
  return torva::kExitSuccess;
}

} // namespace

int main(int argc, char **argv) { return runReportingOutOfMemory(run, argc, argv); }
