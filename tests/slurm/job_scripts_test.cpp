#include "slurm/job_scripts.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "data/study_reader.h"
#include "slurm/run_folder.h"
#include "slurm/sbatch.h"
#include "slurm/slurm_request.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// --- Command line ----------------------------------------------------------------------------

TEST(SlurmRequest, ReadsPositionalsAndOptionsInAnyOrder) {
  SlurmRequest request;
  std::string error;
  ASSERT_TRUE(parseSlurmRequest({"--shards", "8", "list.txt", "2", "500", "--threads", "4", "--mem",
                                 "16G", "--partition", "long", "--time", "2-00:00:00", "--dry-run"},
                                request, error))
      << error;
  EXPECT_EQ(request.listPath, "list.txt");
  EXPECT_EQ(request.method, 2);
  EXPECT_EQ(request.sizeArgument, 500);
  EXPECT_EQ(request.shards, 8);
  EXPECT_EQ(request.threads, 4);
  EXPECT_EQ(request.memory, "16G");
  EXPECT_EQ(request.partition, "long");
  EXPECT_EQ(request.time, "2-00:00:00");
  EXPECT_TRUE(request.dryRun);

  ASSERT_TRUE(parseSlurmRequest({"--shards=6", "list.txt", "1", "0", "--mem=2G"}, request, error))
      << error;
  EXPECT_EQ(request.shards, 6);
  EXPECT_EQ(request.memory, "2G");
  ASSERT_TRUE(parseSlurmRequest({"list.txt", "1", "0", "--shards", "3"}, request, error));
  EXPECT_EQ(request.method, 1);
  EXPECT_EQ(request.threads, 1);
  EXPECT_TRUE(request.memory.empty());
  EXPECT_FALSE(request.dryRun);
}

TEST(SlurmRequest, RefusesWhatWouldMakeAWrongRunOrABrokenScript) {
  const std::vector<std::vector<std::string>> bad = {
      {"list.txt", "2", "10"},                                         // no --shards
      {"list.txt", "2", "--shards", "3"},                              // two positionals
      {"list.txt", "2", "10", "extra", "--shards", "3"},               // four
      {"list.txt", "2", "10", "--shards", "0"},                        // no shard
      {"list.txt", "2", "10", "--shards", "3x"},                       // not a number
      {"list.txt", "2", "10", "--shards", "3", "--threads", "0"},      // no thread
      {"list.txt", "3", "10", "--shards", "3"},                        // unknown method
      {"list.txt", "2", "0", "--shards", "3"},                         // bootstrap of nothing
      {"list.txt", "2", "-5", "--shards", "3"},                        // negative size
      {"list.txt", "2", "10", "--shards"},                             // option without value
      {"list.txt", "2", "10", "--shards", "3", "--mem", "lots"},       // not a size
      {"list.txt", "2", "10", "--shards", "3", "--mem", "4GB"},        // unit Slurm refuses
      {"list.txt", "2", "10", "--shards", "3", "--time", "1 day"},     // splits the #SBATCH line
      {"list.txt", "2", "10", "--shards", "3", "--partition", "a\nb"}, // adds a line
      {"list.txt", "2", "10", "--shards", "3", "--nodes", "2"},        // unknown option
  };
  for (const auto &args : bad) {
    SlurmRequest request;
    std::string error;
    EXPECT_FALSE(parseSlurmRequest(args, request, error)) << args[2];
    EXPECT_FALSE(error.empty());
  }
  SlurmRequest request;
  std::string error;
  EXPECT_TRUE(
      parseSlurmRequest({"list.txt", "1", "0", "--shards", "3", "--mem", "900m"}, request, error));
}

// --- Memory ----------------------------------------------------------------------------------

TEST(MemoryEstimate, WorkedStudies) {
  FileList list;
  // A 2 mm study of 3000 subjects: 902629 voxels; bits 902629*47*8 = 339388504 bytes, one
  // thread 192*902629 = 173304768 bytes, 64 MiB more: 579802136 bytes, that is 552.9 MiB,
  // rounded up.
  list.x = 91;
  list.y = 109;
  list.z = 91;
  list.subjectCount = 3000;
  EXPECT_EQ(estimateMemoryMiB(list, 1), 553);
  // A second thread adds its working set: 753106904 bytes = 718.2 MiB.
  EXPECT_EQ(estimateMemoryMiB(list, 2), 719);
  // 64 subjects take one 64-bit word per voxel, 65 take two.
  list.subjectCount = 64;
  const long long oneWord = estimateMemoryMiB(list, 1);
  list.subjectCount = 65;
  EXPECT_EQ(estimateMemoryMiB(list, 1) - oneWord, 7); // 902629*8 bytes = 6.9 MiB
  // The example study of 16 subjects of 8x8x6: 3072 + 73728 bytes over the 64 MiB base.
  list.x = 8;
  list.y = 8;
  list.z = 6;
  list.subjectCount = 16;
  EXPECT_EQ(estimateMemoryMiB(list, 1), 65);
}

// --- sbatch ----------------------------------------------------------------------------------

TEST(Sbatch, JobIdOfParsableOutput) {
  std::string id;
  ASSERT_TRUE(parseJobId("4711\n", id));
  EXPECT_EQ(id, "4711");
  ASSERT_TRUE(parseJobId("88;cluster2\n", id));
  EXPECT_EQ(id, "88");
  EXPECT_FALSE(parseJobId("", id));
  EXPECT_FALSE(parseJobId("sbatch: error: invalid partition\n", id));
  EXPECT_FALSE(parseJobId("\n12\n", id));
}

// --- List copy -------------------------------------------------------------------------------

TEST(ListCopy, RelativeImagePathsBecomeAbsoluteTheRestStaysAsWritten) {
  const std::string list = "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n"
                           "007 images/s1.nii 0\n  8   /data/s2.hdr\t1\n";
  std::string copy;
  std::string error;
  ASSERT_TRUE(absoluteListText(list, "/scratch/run", copy, error)) << error;
  EXPECT_EQ(copy, "subjects 2\nnodes 5\nsize 2 2 1\nid file fv\n"
                  "007 /scratch/run/images/s1.nii 0\n8 /data/s2.hdr 1\n");
  EXPECT_FALSE(absoluteListText("subjects 3\nnodes 5\nsize 2 2 1\nid file fv\n1 a.nii 0\n", "/x",
                                copy, error));
  EXPECT_FALSE(absoluteListText("subjects 3\nnodes", "/x", copy, error));
}

TEST(ListCopy, SubjectCountsThatAreNoWholeNumberOrTooLargeAreRefused) {
  const std::string head = "nodes 5\nsize 2 2 1\nid file fv\n1 a.nii 0\n2 b.nii 1\n";
  std::string copy;
  std::string error;
  // Read as 2 before: the rest of the word was ignored.
  EXPECT_FALSE(absoluteListText("subjects 2abc\n" + head, "/x", copy, error));
  EXPECT_EQ(error,
            "torvacoreel-slurm: the file list's subject count '2abc' is not a whole number\n");
  // Three words per subject: 6148914691236517206 * 3 wraps to 2 in 64 bits.
  EXPECT_FALSE(absoluteListText("subjects 6148914691236517206\n" + head, "/x", copy, error));
  EXPECT_EQ(error, "torvacoreel-slurm: the file list holds fewer entries than its subject count\n");
  EXPECT_TRUE(absoluteListText("subjects 2\n" + head, "/x", copy, error)) << error;
}

TEST(RunFolder, PathsThatBatchOptionsCannotHoldAreRefused) {
  std::string error;
  EXPECT_TRUE(checkRunFolderPath("/scratch/lab-1/run_2", error));
  for (const char *path : {"/scratch/my run", "/scratch/100%", "/scratch/it's"})
    EXPECT_FALSE(checkRunFolderPath(path, error)) << path;
}

// --- The scripts, executed -------------------------------------------------------------------

// Stand-ins for torvacoreel and torvacoreel-merge that record how the scripts called them: the
// working folder, TORVA_SHARD and the arguments, and print a line of progress text.
void writeRecordingProgram(const std::string &path, const std::string &progress) {
  writeFile(path, "#!/bin/bash\n{ pwd; echo \"shard=${TORVA_SHARD:-none} threads=$TORVA_THREADS\"; "
                  "echo \"$@\"; } > " +
                      path + ".called\necho " + progress + "\n");
  chmod(path.c_str(), 0755);
}

class ExecutedScripts : public ::testing::Test {
protected:
  void SetUp() override {
    run_ = dir_.path() + "/run";
    ASSERT_EQ(mkdir(run_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir("bin", 0755), 0);
    writeRecordingProgram(dir_.path() + "/bin/torvacoreel", "shard-text");
    writeRecordingProgram(dir_.path() + "/bin/torvacoreel-merge", "merge-text");
    writeFile(run_ + "/torva.configure", "maskMethod 1\n");
    request_.listPath = "list.txt";
    request_.method = 2;
    request_.sizeArgument = 40;
    request_.shards = 3;
    request_.threads = 2;
    layout_ = planLayout(run_, 3, dir_.path() + "/bin");
    std::string error;
    ASSERT_TRUE(prepareRunFolders(layout_, "the list\n", error)) << error;
  }
  // Runs `script` with bash the way a batch job would, from another folder.
  int runScript(const std::string &script, const std::string &environment) {
    writeFile("job.sh", script);
    return std::system((environment + " bash job.sh > job.out 2>&1").c_str());
  }
  testsupport::ScopedTempDir dir_;
  std::string run_;
  SlurmRequest request_;
  RunLayout layout_;
};

TEST_F(ExecutedScripts, FoldersListCopyAndSettingsLinks) {
  EXPECT_EQ(readFile(run_ + "/torva_shards/study.filelist"), "the list\n");
  for (int k = 0; k < 3; ++k) {
    const std::string folder = run_ + "/torva_shards/shard_" + std::to_string(k);
    EXPECT_EQ(readFile(folder + "/torva.configure"), "maskMethod 1\n") << k;
    // Only the settings files present are linked; the analysis then uses its defaults there too.
    EXPECT_FALSE(testsupport::fileExistsOnDisk(folder + "/mask.img"));
  }
  // A second run in the same folder would mix its shards with these.
  std::string error;
  EXPECT_FALSE(prepareRunFolders(layout_, "the list\n", error));
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
}

TEST_F(ExecutedScripts, ArrayTaskRunsItsShardInItsOwnFolder) {
  const std::string script = shardArrayScript(request_, layout_, "2048M");
  EXPECT_NE(script.find("#SBATCH --array=0-2\n"), std::string::npos);
  EXPECT_NE(script.find("#SBATCH --mem=2048M\n"), std::string::npos);
  EXPECT_NE(script.find("#SBATCH --cpus-per-task=2\n"), std::string::npos);
  EXPECT_NE(script.find("#SBATCH --output=" + run_ + "/torva_shards/shard_%a/progress.txt\n"),
            std::string::npos);
  EXPECT_EQ(script.find("--time"), std::string::npos);
  EXPECT_EQ(script.find("--partition"), std::string::npos);
  ASSERT_EQ(runScript(script, "SLURM_ARRAY_TASK_ID=1"), 0) << readFile("job.out");
  EXPECT_EQ(readFile("bin/torvacoreel.called"), run_ +
                                                    "/torva_shards/shard_1\nshard=1/3 threads=2\n" +
                                                    run_ + "/torva_shards/study.filelist 2 40\n");
}

TEST_F(ExecutedScripts, MergeJoinsTheProgressTextAndMergesInTheRunFolder) {
  for (int k = 0; k < 3; ++k)
    writeFile(layout_.shardFolders[k] + "/progress.txt", "shard " + std::to_string(k) + "\n");
  request_.time = "1:00:00";
  request_.partition = "short";
  const std::string script = mergeScript(request_, layout_, "900M");
  EXPECT_NE(script.find("#SBATCH --time=1:00:00\n"), std::string::npos);
  EXPECT_NE(script.find("#SBATCH --partition=short\n"), std::string::npos);
  ASSERT_EQ(runScript(script, ""), 0) << readFile("job.out");
  const std::string shards = run_ + "/torva_shards/shard_";
  EXPECT_EQ(readFile("bin/torvacoreel-merge.called"),
            run_ + "\nshard=none threads=2\n" + run_ + "/torva_shards/study.filelist 2 40 " +
                shards + "0 " + shards + "1 " + shards + "2\n");
  EXPECT_EQ(readFile(run_ + "/torva_shards/progress.txt"),
            "shard 0\nshard 1\nshard 2\nmerge-text\n");
}

TEST_F(ExecutedScripts, MergeStopsWhenAShardLeftNoProgressText) {
  writeFile(layout_.shardFolders[0] + "/progress.txt", "shard 0\n");
  EXPECT_NE(runScript(mergeScript(request_, layout_, "900M"), ""), 0);
  EXPECT_FALSE(testsupport::fileExistsOnDisk("bin/torvacoreel-merge.called"));
}

TEST(Quoting, SurvivesQuotesInPaths) {
  testsupport::ScopedTempDir dir;
  const std::string path = "it's a \"folder\"";
  writeFile("show.sh", "printf '%s' " + shellQuoted(path) + " > shown.txt\n");
  ASSERT_EQ(std::system("bash show.sh"), 0);
  EXPECT_EQ(readFile("shown.txt"), path);
}

} // namespace
