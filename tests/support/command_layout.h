#pragma once
// A folder holding the outputs of a successful use of each command, for the tests that damage or
// stop one command and check that everything else stays as it was:
//   raw/      participants table and compressed masks (two subjects have none)
//   study/    prepared from raw/, with the results of an analysis inside
//   report/   the report of that run
//   shard0/, shard1/   the two shards of the same run; merged/ their merge
#include <cstdlib>
#include <string>

namespace testsupport {

// The study's size and the analysis's arguments: "1 0" (jackknife) or "2 <iterations>".
struct CommandLayoutPlan {
  int subjects = 12;
  std::string size = "8 8 4";
  std::string resampling = "1 0";
};

// torvacoreel-prepare on raw/ of the layout, with `extra` options (such as the output).
inline std::string prepareCommand(const std::string &extra) {
  return std::string(TORVACOREEL_PREPARE_PATH) +
         " --table raw/participants.tsv --id-column participant_id --image "
         "'masks/{id}_lesion.nii.gz' --outcome-column rankin --above 2 --skip-missing " +
         extra;
}

// Makes the layout in the existing folder `path`; false when a command failed.
inline bool makeCommandLayout(const std::string &path, const CommandLayoutPlan &plan) {
  const auto run = [](const std::string &command) { return std::system(command.c_str()) == 0; };
  const std::string in = "cd " + path + " && ";
  const std::string links = "ln -s ../study/img img && ln -s ../study/torva.prj.filelist . && ";
  const std::string quiet = " > /dev/null 2>&1";
  const std::string analysis =
      std::string(TORVACOREEL_PATH) + " torva.prj.filelist " + plan.resampling;
  bool ok =
      run(in + MAKE_EXAMPLE_STUDY_PATH + " --out raw --subjects " + std::to_string(plan.subjects) +
          " --size " + plan.size + " --layout participants" + quiet) &&
      run(in + prepareCommand("--out study") + quiet) &&
      run(in + "cd study && " + analysis + quiet) &&
      run(in + TORVACOREEL_REPORT_PATH + " --out report study" + quiet);
  for (int k = 0; ok && k < 2; ++k) {
    const std::string shard = "shard" + std::to_string(k);
    ok = run(in + "mkdir " + shard + " && cd " + shard + " && " + links +
             "TORVA_SHARD=" + std::to_string(k) + "/2 " + analysis + quiet);
  }
  return ok && run(in + "mkdir merged && cd merged && " + links + TORVACOREEL_MERGE_PATH +
                   " torva.prj.filelist " + plan.resampling + " ../shard0 ../shard1" + quiet);
}

} // namespace testsupport
