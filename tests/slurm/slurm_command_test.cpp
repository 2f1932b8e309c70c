// torvacoreel-slurm as a user runs it, with a stand-in sbatch on the PATH that records its
// arguments and answers as `sbatch --parsable` does.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::writeFile;

const std::string kProgram = TORVACOREEL_SLURM_PATH;

class SlurmCommand : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(mkdir("fakebin", 0755), 0);
    ASSERT_EQ(mkdir("images", 0755), 0);
    writeFile("list.txt", "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n1 images/s1.nii 0\n"
                          "2 /elsewhere/s2.nii 1\n");
  }
  // sbatch answering `answers` in turn (one per call), exiting with `status`.
  void fakeSbatch(const std::string &firstAnswer, const std::string &secondAnswer, int status = 0) {
    writeFile("fakebin/sbatch", "#!/bin/bash\necho \"$@\" >> " + dir_.path() +
                                    "/sbatch_calls.txt\n"
                                    "if [ -f " +
                                    dir_.path() + "/second ]; then echo '" + secondAnswer +
                                    "'; else touch " + dir_.path() + "/second; echo '" +
                                    firstAnswer + "'; fi\nexit " + std::to_string(status) + "\n");
    chmod("fakebin/sbatch", 0755);
  }
  int run(const std::string &arguments) {
    return runCommand("PATH=" + dir_.path() + "/fakebin:$PATH " + kProgram + " " + arguments);
  }
  testsupport::ScopedTempDir dir_;
};

TEST_F(SlurmCommand, SubmitsTheArrayThenTheMergeAfterIt) {
  fakeSbatch("4711", "4712;main");
  ASSERT_EQ(run("list.txt 2 30 --shards 4 --mem 3G"), 0) << readFile("stderr.txt");
  const std::string root = dir_.path() + "/torva_shards";
  EXPECT_EQ(readFile("sbatch_calls.txt"), "--parsable " + root + "/shards.sbatch\n" +
                                              "--parsable --dependency=afterok:4711 " + root +
                                              "/merge.sbatch\n");
  const std::string out = readFile("stdout.txt");
  EXPECT_NE(out.find("shard array job 4711: 4 shards in " + root + "/shard_0 .. shard_3"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("merge job 4712"), std::string::npos) << out;
  EXPECT_NE(out.find("results: " + dir_.path() + " "), std::string::npos) << out;
  EXPECT_NE(readFile(root + "/shards.sbatch").find("#SBATCH --mem=3G"), std::string::npos);
  EXPECT_EQ(readFile(root + "/study.filelist"), "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n1 " +
                                                    dir_.path() +
                                                    "/images/s1.nii 0\n2 /elsewhere/s2.nii 1\n");
  EXPECT_TRUE(testsupport::fileExistsOnDisk(root + "/shard_3"));
}

TEST_F(SlurmCommand, DryRunPrintsBothScriptsAndLeavesNoTrace) {
  fakeSbatch("1", "2");
  ASSERT_EQ(run("list.txt 1 0 --shards 2 --dry-run"), 0) << readFile("stderr.txt");
  const std::string out = readFile("stdout.txt");
  EXPECT_NE(out.find("#SBATCH --array=0-1"), std::string::npos) << out;
  EXPECT_NE(out.find("#SBATCH --job-name=torva-merge"), std::string::npos) << out;
  // The estimate for 2 subjects of 4 voxels is the 64 MiB base, rounded up past it.
  EXPECT_NE(out.find("#SBATCH --mem=65M"), std::string::npos) << out;
  EXPECT_FALSE(testsupport::fileExistsOnDisk("sbatch_calls.txt"));
  EXPECT_FALSE(testsupport::fileExistsOnDisk("torva_shards"));
}

TEST_F(SlurmCommand, RefusalsAndFailuresEndWithAStatusAndAReason) {
  fakeSbatch("sbatch: error: Batch job submission failed: Invalid partition name specified", "", 1);
  EXPECT_EQ(run("list.txt 2 30 --shards 4 --partition nosuch"), 1);
  EXPECT_NE(readFile("stderr.txt").find("Invalid partition name"), std::string::npos);

  EXPECT_FALSE(testsupport::fileExistsOnDisk("torva_shards")) << "nothing blocks a retry";

  std::remove("second");
  fakeSbatch("4711", "4712");
  EXPECT_EQ(run("list.txt 2 30 --shards 4"), 0);
  EXPECT_EQ(run("list.txt 2 30 --shards 4"), 1) << "a second run would mix shards";
  EXPECT_NE(readFile("stderr.txt").find("already exists"), std::string::npos);

  EXPECT_EQ(run("missing.txt 2 30 --shards 4"), 1);
  EXPECT_NE(readFile("stderr.txt").find("missing.txt"), std::string::npos);

  EXPECT_EQ(run("list.txt 2 30"), 2);
  EXPECT_NE(readFile("stderr.txt").find("usage: torvacoreel-slurm"), std::string::npos);
}

TEST_F(SlurmCommand, MergeRefusedLeavesTheArrayNamedForCancelling) {
  fakeSbatch("4711", "sbatch: error: Job dependency problem", 0);
  EXPECT_EQ(run("list.txt 2 30 --shards 4"), 1);
  EXPECT_NE(readFile("stderr.txt").find("scancel 4711"), std::string::npos)
      << readFile("stderr.txt");
}

} // namespace
