// A run's output must not depend on its thread count: standard output, standard error, the exit
// status and every file it leaves behind are the same for TORVA_THREADS=1 (the sequential run)
// and for more threads, for complete runs and for runs that fail halfway.
#include <gtest/gtest.h>

#include <dirent.h>
#include <map>
#include <string>

#include "support/nifti_image.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;

const std::string kProgram = TORVACOREEL_PATH;

// Everything a run leaves in its folder (except the study itself) and its streams and status.
std::map<std::string, std::string> runWithThreads(const std::string &folder, int threads,
                                                  const std::string &arguments) {
  std::map<std::string, std::string> seen;
  const int status = runCommand("cd " + folder + " && TORVA_THREADS=" + std::to_string(threads) +
                                    " " + kProgram + " " + arguments,
                                "out.txt", "err.txt"); // the redirections apply inside the folder
  seen["status"] = std::to_string(status);
  DIR *dir = opendir(folder.c_str());
  while (dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    // The lock file holds the process id of the run that took it.
    if (name != "." && name != ".." && name != "study" && name != ".torva.lock")
      seen[name] = readFile(folder + "/" + name);
  }
  closedir(dir);
  return seen;
}

// Runs the command in one fresh copy of `study` per thread count and compares every result.
void expectSameForEveryThreadCount(const std::string &arguments, const char *status) {
  const auto sequential = runWithThreads("t1", 1, arguments);
  ASSERT_EQ(sequential.at("status"), status) << sequential.at("err.txt");
  // A complete run also writes its held-out predictions, which must not depend on the threads.
  if (std::string(status) == "0") {
    for (const char *name : {"prediction.tsv", "prediction_summary.tsv"})
      EXPECT_TRUE(sequential.count(name)) << name;
  }
  for (const int threads : {2, 3}) {
    const auto parallel = runWithThreads("t" + std::to_string(threads), threads, arguments);
    ASSERT_EQ(parallel.size(), sequential.size()) << threads << " threads";
    for (const auto &[name, contents] : sequential) {
      ASSERT_TRUE(parallel.count(name)) << name << " missing with " << threads << " threads";
      EXPECT_TRUE(parallel.at(name) == contents)
          << name << " differs with " << threads << " threads";
    }
  }
}

void copyStudyInto(const std::initializer_list<const char *> folders) {
  for (const char *folder : folders)
    ASSERT_EQ(
        std::system(
            (std::string("mkdir -p ") + folder + " && cp -r study " + folder + "/study").c_str()),
        0);
}

class ThreadCounts : public ::testing::TestWithParam<const char *> {};

TEST_P(ThreadCounts, CompleteRunsAreByteIdentical) {
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) +
                       " --out study --subjects 16 --size 8 8 6 --seed 3"),
            0);
  copyStudyInto({"t1", "t2", "t3"});
  expectSameForEveryThreadCount(std::string("study/torva.prj.filelist ") + GetParam(), "0");
}

INSTANTIATE_TEST_SUITE_P(Methods, ThreadCounts, ::testing::Values("1 0", "2 7"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                           return std::string(info.param[0] == '1' ? "jackknife" : "bootstrap");
                         });

// Only subject 2 has any voxel set, so the jackknife's iteration 2 has no candidate voxel and
// ends the run with status 254 after iterations 0 and 1; the iterations after it, which other
// threads may already have run, leave nothing behind.
TEST(ThreadCounts, RunsFailingHalfwayAreByteIdentical) {
  ScopedTempDir dir;
  std::string list = "subjects 6\nnodes 17\nsize 4 4 1\nid file fv\n";
  ASSERT_EQ(std::system("mkdir -p study"), 0);
  for (int s = 0; s < 6; ++s) {
    std::vector<double> values(16, 0.0);
    if (s == 2)
      values = {1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 1};
    const std::string name = "study/s" + std::to_string(s) + ".nii";
    ASSERT_TRUE(testsupport::writeTestImage(name, DT_UINT8, 4, 4, 1, values));
    list += std::to_string(s + 1) + " " + name + " " + std::to_string(s % 2) + "\n";
  }
  testsupport::writeFile("study/list.txt", list);
  copyStudyInto({"t1", "t2", "t3"});
  expectSameForEveryThreadCount("study/list.txt 1 0", "254");
  const std::string out = readFile("t1/out.txt");
  EXPECT_NE(out.find("resampling 2\n"), std::string::npos);
  EXPECT_EQ(out.find("resampling 3\n"), std::string::npos);
  EXPECT_NE(out.find("No voxels in the candidate set"), std::string::npos);
}

TEST(ThreadCounts, ThreadCountMustBeAWholeNumber) {
  ScopedTempDir dir;
  ASSERT_EQ(
      runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) + " --out study --subjects 4 --size 4 4 2"),
      0);
  for (const char *bad : {"0", "two", "2x", "-1", ""}) {
    EXPECT_EQ(runCommand(std::string("TORVA_THREADS='") + bad + "' " + kProgram +
                         " study/torva.prj.filelist 1 0"),
              2)
        << bad;
    EXPECT_NE(readFile("stderr.txt").find("TORVA_THREADS"), std::string::npos) << bad;
  }
}

} // namespace
