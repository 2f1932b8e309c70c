// The bad-input catalogue of the commands around the analysis: prepare, report, merge, slurm
// and permute.
// Every case starts from a copy of one layout holding the outputs of a successful use of each
// command, damages it, runs one command and checks its status, a fragment of its message, that
// no signal ended it, that every file that was there before is there with the same bytes, and
// that no temporary run folder is left anywhere. A command's cases are one function returning
// its list; allCases() joins them.
#include <gtest/gtest.h>

#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "data/img_io.h"
#include "support/command_layout.h"
#include "support/folder_state.h"
#include "support/temp_dir.h"

namespace {

using testsupport::collectFiles;
using testsupport::expectUnchangedAndNoRunFolder;
using testsupport::filesNow;
using testsupport::hasRunFolder;
using testsupport::prepareCommand;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::writeFile;

const std::string kAnalysis = TORVACOREEL_PATH;
const std::string kPrepare = TORVACOREEL_PREPARE_PATH;
const std::string kReport = TORVACOREEL_REPORT_PATH;
const std::string kMerge = TORVACOREEL_MERGE_PATH;
const std::string kSlurm = TORVACOREEL_SLURM_PATH;
const std::string kPermute = TORVACOREEL_PERMUTE_PATH;

// The masks of raw/ are 8 x 8 x 4 voxels, in uint8, int16 and float32 by turns.
const std::string kFirstMask = "raw/masks/sub-001_lesion.nii.gz";
const std::string kLastMask = "raw/masks/sub-012_lesion.nii.gz";

int run(const std::string &command) { return std::system(command.c_str()); }

// The layout, made once; each case starts from a copy (support/command_layout.h): 12 subjects of
// 8 x 8 x 4 voxels, a jackknife.
class Layout {
public:
  static const std::string &folder() {
    static Layout layout;
    return layout.path_;
  }

private:
  Layout() : path_(testsupport::makeTempDirectory("/tmp/torva-commands-XXXXXX")) {
    if (!testsupport::makeCommandLayout(path_, testsupport::CommandLayoutPlan{}))
      std::abort();
  }
  ~Layout() {
    if (getpid() == owner_)
      static_cast<void>(run("rm -rf '" + path_ + "'"));
  }
  std::string path_;
  pid_t owner_ = getpid();
};

// ---- damage

// The uncompressed bytes of a .nii.gz.
std::string gunzipped(const std::string &path) {
  gzFile in = gzopen(path.c_str(), "rb");
  std::string bytes;
  char buffer[4096];
  int n = 0;
  while (in != nullptr && (n = gzread(in, buffer, sizeof buffer)) > 0)
    bytes.append(buffer, static_cast<std::size_t>(n));
  if (in != nullptr)
    gzclose(in);
  return bytes;
}

// Writes `bytes` compressed, the first `split` of them in blocks of their own (a full flush), and
// returns the compressed offset where the rest begins.
long gzipped(const std::string &path, const std::string &bytes, std::size_t split) {
  gzFile out = gzopen(path.c_str(), "wb");
  EXPECT_NE(out, nullptr);
  gzwrite(out, bytes.data(), static_cast<unsigned>(split));
  gzflush(out, Z_FULL_FLUSH);
  const long offset = gzoffset(out);
  gzwrite(out, bytes.data() + split, static_cast<unsigned>(bytes.size() - split));
  gzclose(out);
  return offset;
}

constexpr std::size_t kNiftiHeader = 352; // header and the four extension bytes

// The compressed stream of `mask` ends after its header and `dataBytes` data bytes, in the
// middle of its data: the file is cut there, not closed as a shorter stream.
void cutInsideCompressedData(const std::string &mask, std::size_t dataBytes) {
  const std::string bytes = gunzipped(mask);
  const long offset = gzipped(mask, bytes, kNiftiHeader + dataBytes);
  writeFile(mask, readFile(mask).substr(0, static_cast<std::size_t>(offset)));
}

// Bytes of the deflate data after the header are changed; the header still reads.
void corruptCompressedStream(const std::string &mask) {
  const std::string bytes = gunzipped(mask);
  const long offset = gzipped(mask, bytes, kNiftiHeader);
  std::string compressed = readFile(mask);
  for (std::size_t i = static_cast<std::size_t>(offset); i < compressed.size() - 8; ++i)
    compressed[i] = static_cast<char>(compressed[i] ^ 0xA5);
  writeFile(mask, compressed);
}

void patchHeader(const std::string &mask, const std::function<void(std::string &)> &patch) {
  std::string bytes = gunzipped(mask);
  patch(bytes);
  gzipped(mask, bytes, bytes.size());
}

void setShort(std::string &bytes, std::size_t offset, short value) {
  std::memcpy(&bytes[offset], &value, sizeof value);
}

// Every mask claims 4000 x 4000 x 4000 voxels: the headers agree, the memory does not exist.
void claimHugeGrids() {
  DIR *dir = opendir("raw/masks");
  while (const dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.')
      patchHeader(std::string("raw/masks/") + entry->d_name, [](std::string &bytes) {
        for (int i = 1; i <= 3; ++i)
          setShort(bytes, 40 + 2 * i, 4000);
      });
  closedir(dir);
}

// The mask gets a fourth extent of 2 and its data twice.
void makeTwoVolumes(const std::string &mask) {
  patchHeader(mask, [](std::string &bytes) {
    setShort(bytes, 40, 4);
    setShort(bytes, 48, 2);
    bytes += bytes.substr(kNiftiHeader);
  });
}

void cutFile(const std::string &path, double share) {
  const std::string bytes = readFile(path);
  writeFile(path, bytes.substr(0, static_cast<std::size_t>(bytes.size() * share)));
}

void flipByte(const std::string &path, std::size_t at) {
  std::string bytes = readFile(path);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  writeFile(path, bytes);
}

// The first representative of log.el.torva ("R-SET", then the count and the voxel ids) becomes
// `id`, in the R-SET and as the name of its variable, so the file agrees with itself.
void setFirstRepresentative(const std::string &path, const std::string &id) {
  std::string text = readFile(path);
  const std::size_t at = text.find("R-SET");
  ASSERT_NE(at, std::string::npos);
  const std::size_t count = text.find_first_not_of(" \r\n", at + 5);
  const std::size_t start = text.find_first_not_of(" ", text.find(' ', count));
  const std::size_t end = text.find_first_of(" \r\n", start);
  ASSERT_NE(end, std::string::npos);
  const std::string old = text.substr(start, end - start);
  text.replace(start, end - start, id);
  const std::size_t name = text.find("\n" + old + "\n");
  ASSERT_NE(name, std::string::npos);
  text.replace(name + 1, old.size(), id);
  writeFile(path, text);
}

void writeVolumeOfGrid(const std::string &path, int x, int y, int z) {
  std::vector<float> values(static_cast<std::size_t>(x) * y * z, 1.0f);
  std::string error;
  ASSERT_TRUE(writeNiftiImage(path.c_str(), path.c_str(), values.data(), "NIFTI_TYPE_FLOAT32", x, y,
                              z, defaultGeometry(2, 2, 2), error))
      << error;
}

// ---- the cases

struct CommandCase {
  std::string name;
  std::function<void()> damage;
  std::string command; // a program and its arguments, run in `folder`
  int status;
  std::string fragment;     // expected in standard error
  std::string folder = "."; // relative to the working folder
  std::string prefix = "";  // shell words before the command: limits, variables
};

void PrintTo(const CommandCase &c, std::ostream *out) { *out << c.name; }

const std::function<void()> kIntact = [] {};

// A limit on the address space, under which a huge allocation fails at once. AddressSanitizer
// reserves terabytes of address space at start, so its build relies on its own refusal of a
// huge allocation instead (which also ends the command with another status).
#if defined(__SANITIZE_ADDRESS__)
const std::string kSmallAddressSpace;
#else
const std::string kSmallAddressSpace = "ulimit -v 4000000; ";
#endif

std::vector<CommandCase> prepareCases() {
  const std::string fresh = "--out new_study";
  return {
      {"PrepareTableMissing", kIntact,
       kPrepare + " --table raw/absent.tsv --id-column participant_id --image 'masks/{id}.nii' "
                  "--outcome-column rankin --out new_study",
       1, "cannot open the table raw/absent.tsv"},
      {"PrepareUnbalancedQuotes",
       [] {
         writeFile("raw/participants.tsv", readFile("raw/participants.tsv") + "\"sub-099\t1\n");
       },
       prepareCommand(fresh), 1, "is never closed"},
      {"PrepareNamedColumnMissing", kIntact, prepareCommand(fresh + " --id-column subject"), 1,
       "subject"},
      {"PrepareMaskCutInsideItsCompressedData", [] { cutInsideCompressedData(kFirstMask, 48); },
       prepareCommand(fresh), 1,
       "sub-001_lesion.nii.gz: the voxel data end early: 256 bytes "
       "needed, 48 read"},
      {"PrepareCorruptCompressedStream", [] { corruptCompressedStream(kFirstMask); },
       prepareCommand(fresh), 1, "compressed data"},
      // Refused from the headers; the limit on the address space shows nothing of that size was
      // asked for.
      {"PrepareAgreeingHeadersClaimAGridBeyondMemory", claimHugeGrids, prepareCommand(fresh), 1,
       "of memory; this machine has", ".", kSmallAddressSpace},
      {"PrepareMaskWithTwoVolumes", [] { makeTwoVolumes(kFirstMask); }, prepareCommand(fresh), 1,
       "holds 2 volumes"},
      {"PrepareOutIsAnExistingFile", kIntact, prepareCommand("--out raw/participants.tsv"), 1,
       "raw/participants.tsv exists and is not a folder"},
      {"PrepareOutIsANonEmptyFolderWithoutForce", kIntact, prepareCommand("--out study"), 1,
       "is not empty"},
      {"PrepareThresholdNotANumber", kIntact, prepareCommand(fresh + " --threshold half"), 2,
       "--threshold needs a number, not 'half'"},
      {"PrepareAboveNotANumber", kIntact,
       kPrepare + " --table raw/participants.tsv --id-column participant_id --image "
                  "'masks/{id}_lesion.nii.gz' --outcome-column rankin --above 2x --out new_study",
       2, "--above needs a number, not '2x'"},
      // The last mask fails after the others were written: the earlier study stays whole.
      {"PrepareForceOverAnEarlierStudyThatFails", [] { cutInsideCompressedData(kLastMask, 10); },
       prepareCommand("--out study --force"), 1, "sub-012_lesion.nii.gz: the voxel data end"},
      {"PrepareMaskMissingWithoutSkip", kIntact,
       kPrepare + " --table raw/participants.tsv --id-column participant_id --image "
                  "'masks/{id}_lesion.nii.gz' --outcome-column rankin --above 2 --out new_study",
       1, "_lesion.nii.gz"},
      {"PrepareMaskOfAnotherGrid",
       [] { patchHeader(kLastMask, [](std::string &bytes) { setShort(bytes, 42, 4); }); },
       prepareCommand(fresh), 1, "has the grid 4 x 8 x 4"},
      {"PrepareMaskIsNotAnImage", [] { writeFile(kFirstMask, "not an image"); },
       prepareCommand(fresh), 1, "sub-001_lesion.nii.gz"},
  };
}

std::vector<CommandCase> reportCases() {
  const std::string report = kReport + " --out report ";
  return {
      {"ReportResultsMissing", kIntact, report + "absent", 1, "absent/model.el.torva"},
      {"ReportShortRoi", [] { cutFile("study/roi.el.torva", 0.5); }, report + "study", 1,
       "study/roi.el.torva"},
      {"ReportRepresentativeOutsideTheVolume",
       [] { setFirstRepresentative("study/log.el.torva", "99999"); }, report + "study", 1,
       "lies outside the 256 voxels"},
      {"ReportFrequencyMapOnAnotherGrid",
       [] { writeVolumeOfGrid("study/prob_map_torvael.nii", 4, 4, 4); }, report + "study", 1,
       "voxels, but study/prob_map_torvael.nii is 4 x 4 x 4"},
      {"ReportBackgroundOnAnotherGrid", [] { writeVolumeOfGrid("template.nii", 4, 4, 4); },
       report + "--background template.nii study", 1, "background template.nii is 4 x 4 x 4"},
      {"ReportBackgroundCutInsideItsCompressedData",
       [] {
         run("cp " + kFirstMask + " template.nii.gz");
         cutInsideCompressedData("template.nii.gz", 100);
       },
       report + "--background template.nii.gz study", 1,
       "template.nii.gz: the voxel data end early: 256 bytes needed, 100 read"},
      {"ReportOutIsAFile", kIntact, kReport + " --out raw/participants.tsv study", 1,
       "cannot create the output folder raw/participants.tsv"},
  };
}

std::vector<CommandCase> mergeCases() {
  const std::string merge = kMerge + " torva.prj.filelist 1 0 ";
  return {
      {"MergeTruncatedShardFile", [] { cutFile("shard1/shard.torva", 0.5); },
       merge + "../shard0 ../shard1", 1, "shard1", "merged"},
      {"MergeOneFlippedByte", [] { flipByte("shard0/shard.torva", 200); },
       merge + "../shard0 ../shard1", 1, "shard0", "merged"},
      {"MergeSameShardTwice", kIntact, merge + "../shard0 ../shard0", 1, "shard0", "merged"},
      {"MergeShardMissing", kIntact, merge + "../shard0", 1, "shard", "merged"},
      {"MergeShardWithoutItsFile", [] { std::remove("shard1/shard.torva"); },
       merge + "../shard0 ../shard1", 1,
       "shard 1 of 2 (../shard1) did not finish: there is no shard.torva in it", "merged"},
  };
}

std::vector<CommandCase> slurmCases() {
  // An sbatch that fails loudly, should a refused request ever reach it.
  const auto noSbatch = [] {
    mkdir("fakebin", 0755);
    writeFile("fakebin/sbatch", "#!/bin/sh\necho sbatch was called >&2\nexit 9\n");
    chmod("fakebin/sbatch", 0755);
  };
  const std::string slurm = kSlurm + " torva.prj.filelist 1 0 ";
  const std::string path = "PATH=../fakebin:$PATH ";
  return {
      {"SlurmZeroShards", noSbatch, slurm + "--shards 0", 2,
       "--shards 0: expected a whole number, 1 or more", "study", path},
      {"SlurmShardFolderAlreadyThere",
       [noSbatch] {
         noSbatch();
         mkdir("study/torva_shards", 0755);
         writeFile("study/torva_shards/keep.txt", "an earlier run's");
       },
       slurm + "--shards 2", 1, "torva_shards already exists", "study", path},
  };
}

std::vector<CommandCase> permuteCases() {
  const std::string permute = kPermute + " --permutations ";
  const std::string refusal = "--permutations takes a whole number from 1 to 1000000, not '";
  return {
      {"PermuteZeroPermutations", kIntact, permute + "0 torva.prj.filelist .", 2, refusal + "0'",
       "study"},
      {"PermuteLotsOfPermutations", kIntact, permute + "lots torva.prj.filelist .", 2,
       refusal + "lots'", "study"},
      {"PermuteBillionPermutations", kIntact, permute + "1000000000 torva.prj.filelist .", 2,
       refusal + "1000000000'", "study"},
      {"PermuteResultsMissing", kIntact, permute + "20 torva.prj.filelist absent", 1,
       "results folder absent is missing", "study"},
      {"PermuteResultsFolderWithoutResults", [] { mkdir("study/empty", 0755); },
       permute + "20 torva.prj.filelist empty", 1, "empty/log.el.torva is missing", "study"},
      {"PermuteShortRoi", [] { cutFile("study/roi.el.torva", 0.5); },
       permute + "20 torva.prj.filelist .", 1, "roi.el.torva", "study"},
  };
}

// Cases of another command are added here as one more list.
std::vector<CommandCase> allCases() {
  std::vector<CommandCase> cases;
  for (auto list : {prepareCases(), reportCases(), mergeCases(), slurmCases(), permuteCases()})
    cases.insert(cases.end(), list.begin(), list.end());
  return cases;
}

class CommandCatalogue : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandCatalogue, RefusedWithItsMessageAndEarlierOutputsKept) {
  const CommandCase &c = GetParam();
  testsupport::ScopedTempDir dir;
  ASSERT_EQ(run("cp -a '" + Layout::folder() + "/.' ."), 0);
  c.damage();
  const auto before = filesNow();
  ASSERT_GE(before.count("study/model.el.torva") + before.count("report/report.html"), 2u);

  // runCommand gives -1 when a signal ended the shell; the shell gives 128 + n for its child.
  const std::string streams = " > " + dir.path() + "/stdout.txt 2> " + dir.path() + "/stderr.txt";
  const int status = runCommand("bash -c \"cd " + c.folder + " && " + c.prefix + "timeout 60 " +
                                    c.command + streams + "\"",
                                "shell_out.txt", "shell_err.txt");
  EXPECT_EQ(status, c.status) << readFile("stderr.txt");
  EXPECT_LT(status, 124) << "ended by a signal or the time limit";
  const std::string errors = readFile("stderr.txt");
  EXPECT_NE(errors.find(c.fragment), std::string::npos) << "expected \"" << c.fragment << "\" in\n"
                                                        << errors;
  expectUnchangedAndNoRunFolder(before);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandCatalogue, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<CommandCase> &info) {
                           return info.param.name;
                         });

// ---- runs that are interrupted

class InterruptedRun : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(run("cp -a '" + Layout::folder() + "/.' ."), 0); }
  testsupport::ScopedTempDir dir;
};

// A bootstrap of 400 iterations is killed once its run folder exists: the results of the
// earlier run are as they were, and the next run removes the dead run's folder and succeeds.
TEST_F(InterruptedRun, AnAnalysisKilledPartWayKeepsTheEarlierResultsAndTheNextRunCleansUp) {
  const auto before = filesNow();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (chdir("study") != 0)
      _exit(126);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    execl(kAnalysis.c_str(), kAnalysis.c_str(), "torva.prj.filelist", "2", "400",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    seen = hasRunFolder("study", ".torva-run-");
    if (!seen)
      usleep(500);
  }
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(seen) << "the run never made its run folder";
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
  {
    std::map<std::string, std::string> after;
    std::vector<std::string> runFolders;
    collectFiles(".", after, runFolders);
    for (const auto &[path, bytes] : before)
      EXPECT_TRUE(after.count(path) == 1 && after.at(path) == bytes) << path;
    EXPECT_EQ(runFolders.size(), 1u) << "the killed run's folder is still there";
  }
  EXPECT_EQ(runCommand("cd study && timeout 60 " + kAnalysis + " torva.prj.filelist 1 0"), 0)
      << readFile("stderr.txt");
  std::map<std::string, std::string> after;
  std::vector<std::string> runFolders;
  collectFiles(".", after, runFolders);
  EXPECT_TRUE(runFolders.empty());
  EXPECT_TRUE(after.at("study/model.el.torva") == before.at("study/model.el.torva"))
      << "the same jackknife gives the same results";
}

// A prepare killed before its commit leaves its run folder in the study; the next prepare
// --force removes it along with replacing the study.
TEST_F(InterruptedRun, AKilledPreparesTemporariesAreRemovedByTheNextPrepare) {
  ASSERT_EQ(mkdir("study/.torva-run-999999999", 0700), 0);
  ASSERT_EQ(mkdir("study/.torva-run-999999999/img", 0755), 0);
  writeFile("study/.torva-run-999999999/.lock", "");
  writeFile("study/.torva-run-999999999/img/sub-001.nii", "half an image");
  EXPECT_EQ(runCommand(prepareCommand("--out study --force")), 0) << readFile("stderr.txt");
  EXPECT_FALSE(hasRunFolder("study"));
  EXPECT_GT(readFile("study/img/sub-001.nii").size(), 348u);
}

// A report over an earlier one replaces every file of it together.
TEST_F(InterruptedRun, ASecondReportReplacesTheFirstAndLeavesNoTemporaries) {
  writeFile("report/.keep", "a user's file");
  writeFile("report/report.html", "an old page");
  EXPECT_EQ(runCommand(kReport + " --out report study"), 0) << readFile("stderr.txt");
  EXPECT_NE(readFile("report/report.html"), "an old page");
  EXPECT_EQ(readFile("report/.keep"), "a user's file");
  EXPECT_FALSE(hasRunFolder("report"));
}

} // namespace
