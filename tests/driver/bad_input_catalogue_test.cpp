// The bad-input catalogue: every kind of unusable input a user may hand the command, each run
// in a folder that already holds the results of a successful run. Every case must end with its
// status and a message naming the file or setting, leave every earlier result byte for byte as
// it was, and leave no temporary run folder behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::writeFile;

const std::string kProgram = TORVACOREEL_PATH;
const std::string kList = "study/torva.prj.filelist";
const std::string kJackknife = kList + " 1 0";

const char *const kResultFiles[] = {"model.el.torva",
                                    "bn.el.torva",
                                    "bn.el.xdsl",
                                    "log.el.torva",
                                    "roi.el.torva",
                                    "log.torva",
                                    "label_field_torvael.hdr",
                                    "label_field_torvael.img",
                                    "label_field_torvael.nii",
                                    "prob_map_torvael.hdr",
                                    "prob_map_torvael.img",
                                    "prob_map_torvael.nii"};

// The study and the results of one successful jackknife run on it, made once: 12 subjects of
// 8 x 8 x 4 voxels. Each case starts from a copy.
class Baseline {
public:
  static const std::string &folder() {
    static Baseline baseline;
    return baseline.path_;
  }

private:
  Baseline() : path_(testsupport::makeTempDirectory("/tmp/torva-catalogue-XXXXXX")) {
    const std::string in = "cd " + path_ + " && ";
    if (std::system(
            (in + MAKE_EXAMPLE_STUDY_PATH + " --out study --subjects 12 --size 8 8 4 > /dev/null")
                .c_str()) != 0 ||
        std::system((in + kProgram + " " + kJackknife + " > /dev/null 2>&1").c_str()) != 0)
      std::abort();
  }
  // Death tests fork and end their child with exit(), which runs this destructor too; only the
  // process that made the folder removes it.
  ~Baseline() {
    if (getpid() == owner_)
      static_cast<void>(std::system(("rm -rf '" + path_ + "'").c_str()));
  }
  std::string path_;
  pid_t owner_ = getpid();
};

// ---- helpers that break the study in the working folder

std::string listText() { return readFile(kList); }

void replaceInList(const std::string &from, const std::string &to) {
  std::string text = listText();
  const auto at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  writeFile(kList, text);
}

void replaceFile(const std::string &path, const std::string &bytes) {
  std::remove(path.c_str());
  writeFile(path, bytes);
}

void makeFifo(const std::string &path) {
  std::remove(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
}

void makeDirectory(const std::string &path, bool withFile) {
  std::remove(path.c_str());
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
  if (withFile)
    writeFile(path + "/kept", "a user's file");
}

// Rewrites bytes of the single-file image `path`: 16-bit fields at byte offsets.
void patchInt16(const std::string &path, int offset, const std::vector<short> &values) {
  std::string bytes = readFile(path);
  ASSERT_GE(bytes.size(), 352u);
  std::memcpy(&bytes[offset], values.data(), values.size() * sizeof(short));
  writeFile(path, bytes);
}

void setExtents(const std::string &path, short x, short y, short z) {
  patchInt16(path, 40, {3, x, y, z, 1, 1, 1, 1});
}

void setVoxOffset(const std::string &path, float offset) {
  std::string bytes = readFile(path);
  std::memcpy(&bytes[108], &offset, sizeof offset);
  writeFile(path, bytes);
}

// maskMethod, normThreshold, T_gem, T_lbp, Max_ROI, segmentationCount, neighborhoodType.
void writeSettings(const std::string &mask, const std::string &th, const std::string &tgem,
                   const std::string &tlbp, const std::string &maxRoi, const std::string &count,
                   const std::string &nbhd) {
  writeFile("torva.configure", "maskMethod " + mask + "\nnormThreshold " + th + "\nbeta 1.0\n" +
                                   "T_gem " + tgem + "\nT_lbp " + tlbp + "\nMax_ROI " + maxRoi +
                                   "\nsegmentationCount " + count + "\nneighborhoodType " + nbhd +
                                   "\nverbose 0\n");
}

void settingsWith(const std::string &mask, const std::string &th) {
  writeSettings(mask, th, "5", "5", "3", "-1", "0");
}

// A neighbourhood file for the 256 voxels where voxel v lists `neighbours(v)`.
void writeNeighbourhood(const std::function<std::string(int)> &neighbours) {
  std::string text;
  for (int v = 1; v <= 256; ++v)
    text += neighbours(v) + "\n";
  writeFile("nbhd_system.torva", text);
  writeSettings("0", "0.2", "5", "5", "3", "-1", "1");
}

// Voxel v lists every later voxel: any two segmented voxels make an asymmetric pair.
std::string laterVoxels(int v) {
  std::string ids = std::to_string(256 - v);
  for (int w = v + 1; w <= 256; ++w)
    ids += " " + std::to_string(w);
  return ids;
}

// Descriptor of a lock the test holds on the working folder, as a running analysis would.
int heldLock = -1;

void holdWorkingFolderLock() {
  heldLock = open(".torva.lock", O_RDWR | O_CREAT, 0644);
  ASSERT_GE(heldLock, 0);
  ASSERT_EQ(flock(heldLock, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(ftruncate(heldLock, 0), 0);
  ASSERT_EQ(write(heldLock, "4242\n", 5), 5);
}

struct BadInput {
  const char *name;
  std::function<void()> prepare;
  std::string arguments;
  int status;
  const char *fragment; // expected in standard error, or in standard output when onStdout
  bool onStdout = false;
  std::string wrapper = ""; // shell prefix of the command, for resource limits
};

void PrintTo(const BadInput &c, std::ostream *out) { *out << c.name; }

std::map<std::string, std::string> resultBytes() {
  std::map<std::string, std::string> bytes;
  for (const char *name : kResultFiles) {
    struct stat info {};
    if (lstat(name, &info) == 0 && S_ISREG(info.st_mode))
      bytes[name] = readFile(name);
  }
  return bytes;
}

// Every result file of `before` is still there with the same bytes, and no run folder remains.
void expectUnchanged(const std::map<std::string, std::string> &before) {
  const auto after = resultBytes();
  for (const auto &[name, bytes] : before) {
    ASSERT_EQ(after.count(name), 1u) << name << " was removed";
    EXPECT_TRUE(after.at(name) == bytes) << name << " was changed";
  }
  EXPECT_EQ(testsupport::countEntriesStartingWith(".torva-run-"), 0);
}

class BadInputCatalogue : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputCatalogue, RefusedWithItsMessageAndEarlierResultsKept) {
  const BadInput &c = GetParam();
  testsupport::ScopedTempDir dir;
  ASSERT_EQ(std::system(("cp -a '" + Baseline::folder() + "/.' .").c_str()), 0);
  c.prepare();
  const auto before = resultBytes();
  ASSERT_GE(before.size(), 10u) << "the first run's results are in place";

  const std::string command = c.wrapper + "timeout 20 " + kProgram + " " + c.arguments;
  EXPECT_EQ(runCommand(c.wrapper.empty() ? command : "bash -c \"" + command + "\""), c.status);
  const std::string stream = readFile(c.onStdout ? "stdout.txt" : "stderr.txt");
  EXPECT_NE(stream.find(c.fragment), std::string::npos) << "expected \"" << c.fragment << "\" in\n"
                                                        << stream;

  expectUnchanged(before);
  if (heldLock >= 0) {
    close(heldLock);
    heldLock = -1;
  }
}

const auto kCases = ::testing::Values(
    // -- arguments
    BadInput{"MethodWithTrailingLetters", [] {}, kList + " 1abc 0", 2, "Unknown resampling method",
             true},
    BadInput{"MethodWithFraction", [] {}, kList + " 1.9 0", 2, "Unknown resampling method", true},
    BadInput{"SizeWithTrailingLetter", [] {}, kList + " 2 3x", 2, "resampling_size '3x'"},
    BadInput{"SizeAboveInt32", [] {}, kList + " 2 4294967298", 2, "resampling_size '4294967298'"},
    // -- subject file list
    BadInput{"ListMissing", [] {}, "absent.filelist 1 0", 1,
             "error: File absent.filelist does "
             "not exist",
             true},
    BadInput{"ListMissingReasonOnStderr", [] {}, "absent.filelist 1 0", 1,
             "cannot open absent.filelist: No such file or directory"},
    BadInput{"ListEmpty", [] { writeFile(kList, ""); }, kJackknife, 1,
             "cannot read the subject and node counts"},
    BadInput{"ListHeaderTruncated", [] { writeFile(kList, "subjects 12\nnodes"); }, kJackknife, 1,
             "cannot read the subject and node counts"},
    BadInput{"ListCountsNotNumbers", [] { replaceInList("subjects 12", "subjects twelve"); },
             kJackknife, 1, "cannot read the subject and node counts"},
    BadInput{"ListWithTooFewEntries", [] { replaceInList("subjects 12", "subjects 13"); },
             kJackknife, 1, "announces 13 subjects but holds only 12"},
    BadInput{"ListIsAFifo", [] { makeFifo("list.fifo"); }, "list.fifo 1 0", 1,
             "list.fifo is a FIFO"},
    BadInput{"ListIsADirectory", [] { makeDirectory("list.dir", false); }, "list.dir 1 0", 1,
             "list.dir is a directory"},
    BadInput{"ListOfAnAstronomicalVolume",
             [] {
               replaceInList("nodes 257", "nodes 35181150961664");
               replaceInList("size 8 8 4", "size 32767 32767 32767");
             },
             kJackknife, 1, "PiB of memory; this machine has"},
    BadInput{"ListOf2000Cubed",
             [] {
               replaceInList("nodes 257", "nodes 8000000001");
               replaceInList("size 8 8 4", "size 2000 2000 2000");
             },
             kJackknife, 1, "12 subjects of 2000 x 2000 x 2000 voxels would need"},
    BadInput{"JackknifeOfOneSubject", [] { replaceInList("subjects 12", "subjects 1"); },
             kJackknife, 1, "holds 1 subject; a jackknife needs at least 2"},
    BadInput{"FunctionVariableOutsideZeroAndOne",
             [] { replaceInList("study/s005.nii 0", "study/s005.nii 2"); }, kJackknife, 1,
             "has the function variable 2"},
    BadInput{"FunctionVariableOutsideZeroAndOneForACase",
             [] { replaceInList("study/s006.nii 1", "study/s006.nii 7"); }, kJackknife, 1,
             "has the function variable 7"},
    // -- images
    BadInput{"ImageMissing", [] { std::remove("study/s003.nii"); }, kJackknife, 1,
             "image file does not exist. \n  (subject 3, image study/s003.nii"},
    BadInput{"ImageIsADirectory", [] { makeDirectory("study/s003.nii", false); }, kJackknife, 1,
             "image study/s003.nii is a directory, not a regular file"},
    BadInput{"ImageIsAFifo", [] { makeFifo("study/s003.nii"); }, kJackknife, 1,
             "image study/s003.nii is a FIFO"},
    BadInput{"ImageNotNifti", [] { replaceFile("study/s003.nii", std::string(600, 'x')); },
             kJackknife, 1, "** failed to read image from 'study/s003.nii'"},
    BadInput{"ImageOfUnsupportedType",
             [] {
               patchInt16("study/s003.nii", 70, {256, 8});
             },
             kJackknife, 1, "cannot recognize the data type"},
    BadInput{"ImageWithValueTwo",
             [] {
               std::string bytes = readFile("study/s003.nii");
               bytes[352 + 17] = 2;
               writeFile("study/s003.nii", bytes);
             },
             kJackknife, 1, "voxel index 17 holds the state 2"},
    BadInput{"ImageWithValueTwoNamesTheBinariser",
             [] {
               std::string bytes = readFile("study/s003.nii");
               bytes[352 + 17] = 2;
               writeFile("study/s003.nii", bytes);
             },
             kJackknife, 1, "can be binarised with torvacoreel-prepare"},
    BadInput{"ImageCutInsideItsData",
             [] { replaceFile("study/s003.nii", readFile("study/s001.nii").substr(0, 400)); },
             kJackknife, 1, "image study/s003.nii is truncated"},
    BadInput{"PairWithShortImageFile",
             [] {
               std::string header = readFile("study/s003.nii").substr(0, 348);
               std::memcpy(&header[344], "ni1", 4);
               const float offset = 0.0f;
               std::memcpy(&header[108], &offset, sizeof offset);
               writeFile("study/s003.hdr", header);
               writeFile("study/s003.img", std::string(100, '\0'));
               replaceInList("study/s003.nii", "study/s003.hdr");
             },
             kJackknife, 1, "study/s003.img holds 100 bytes"},
    BadInput{"VoxOffsetPastTheEnd", [] { setVoxOffset("study/s003.nii", 100000.0f); }, kJackknife,
             1, "byte 100000 (vox_offset), past the end"},
    BadInput{"ImageTwiceAsWide",
             [] {
               setExtents("study/s003.nii", 16, 8, 4);
               writeFile("study/s003.nii", readFile("study/s003.nii") + std::string(256, '\0'));
             },
             kJackknife, 1, "has extents 16 x 8 x 4 (512 voxels per volume)"},
    BadInput{"ImageOfSameCountInAnotherGeometry", [] { setExtents("study/s003.nii", 4, 8, 8); },
             kJackknife, 1,
             "has extents 4 x 8 x 8 (256 voxels per volume); the file list needs "
             "8 x 8 x 4"},
    BadInput{"LargeHeaderOverA608ByteFile",
             [] {
               setExtents("study/s001.nii", 512, 512, 512);
               writeFile(kList, "subjects 1\nnodes 134217729\nsize 512 512 512\nid file fv\n"
                                "1 study/s001.nii 0\n");
             },
             kList + " 2 1", 1, "image study/s001.nii is truncated"},
    // -- settings
    BadInput{"MaxRoiAbove20", [] { writeSettings("0", "0.2", "5", "5", "21", "-1", "0"); },
             kJackknife, 1, "torva.configure: Max_ROI 21 is more than 20"},
    BadInput{"NormThresholdBelowZero", [] { settingsWith("1", "-0.1"); }, kJackknife, 1,
             "torva.configure: normThreshold -0.1 of masking method 1"},
    BadInput{"NormThresholdBelowZeroKeepsItsText", [] { settingsWith("1", "-0.1"); }, kJackknife, 1,
             "Error: th MUST be greater than 0", true},
    BadInput{"NormThresholdAboveTheCases", [] { settingsWith("1", "50"); }, kJackknife, 1,
             "Error: th MUST be less than sample size", true},
    BadInput{"TgemBeyondADay", [] { writeSettings("0", "0.2", "2000000000", "5", "3", "-1", "0"); },
             kJackknife, 1, "torva.configure: T_gem 2000000000 is more than 10000"},
    BadInput{"TlbpBeyondADay", [] { writeSettings("0", "0.2", "5", "10001", "3", "-1", "0"); },
             kJackknife, 1, "torva.configure: T_lbp 10001 is more than 10000"},
    BadInput{"SegmentationCountAboveTheNodes",
             [] { writeSettings("0", "0.2", "5", "5", "3", "100000", "0"); }, kJackknife, 1,
             "segmentationCount 100000 is more than the study's 257 nodes"},
    BadInput{"RepresentativeShareOfOne",
             [] {
               writeSettings("0", "0.2", "5", "5", "3", "-1", "0");
               writeFile("torva.configure",
                         readFile("torva.configure") + "representativeShare 1\n");
             },
             kJackknife, 1, "torva.configure: representativeShare 1 is not a number strictly"},
    BadInput{"RepresentativeShareNotANumber",
             [] {
               writeSettings("0", "0.2", "5", "5", "3", "-1", "0");
               writeFile("torva.configure",
                         readFile("torva.configure") + "representativeShare ten%\n");
             },
             kJackknife, 1, "torva.configure: representativeShare ten% is not a number strictly"},
    BadInput{"SettingsFileIsADirectory", [] { makeDirectory("torva.configure", true); }, kJackknife,
             1, "settings file torva.configure is a directory"},
    BadInput{"SettingsFileIsAFifo", [] { makeFifo("torva.configure"); }, kJackknife, 1,
             "settings file torva.configure is a FIFO"},
    // -- mask
    BadInput{"MaskMissing", [] { settingsWith("99", "0.2"); }, kJackknife, 1,
             "mask.img: cannot open the mask"},
    BadInput{"MaskShort",
             [] {
               settingsWith("99", "0.2");
               writeFile("mask.img", std::string(100, '\1'));
             },
             kJackknife, 1, "the mask holds 100 bytes but the study has 256 voxels"},
    BadInput{"MaskIsAFifo",
             [] {
               settingsWith("99", "0.2");
               makeFifo("mask.img");
             },
             kJackknife, 1, "mask.img is a FIFO"},
    // -- neighbourhood file
    BadInput{"NeighbourhoodMissing",
             [] {
               writeNeighbourhood([](int) { return "0"; });
               std::remove("nbhd_system.torva");
             },
             kJackknife, 1, "File nhbd_system.torva not exist", true},
    BadInput{"NeighbourhoodMissingNamesTheSetting",
             [] {
               writeNeighbourhood([](int) { return "0"; });
               std::remove("nbhd_system.torva");
             },
             kJackknife, 1, "torva.configure sets neighborhoodType 1"},
    BadInput{"NeighbourhoodIsAFifo",
             [] {
               writeNeighbourhood([](int) { return "0"; });
               makeFifo("nbhd_system.torva");
             },
             kJackknife, 1, "nbhd_system.torva is a FIFO"},
    BadInput{"NeighbourhoodShort",
             [] { writeNeighbourhood([](int v) { return v < 100 ? "0" : ""; }); }, kJackknife, 1,
             "nbhd_system.torva ends before the record of voxel 100", false},
    BadInput{"NeighbourhoodNotNumbers",
             [] { writeNeighbourhood([](int v) { return v == 7 ? "two 1 2" : "0"; }); }, kJackknife,
             1, "the record of voxel 7 holds \"two\"", false},
    BadInput{"NeighbourhoodIdOutOfRange",
             [] { writeNeighbourhood([](int v) { return v == 9 ? "1 257" : "0"; }); }, kJackknife,
             1, "lists voxel id 257, outside 1..256", false},
    BadInput{"NeighbourhoodAsymmetric", [] { writeNeighbourhood(laterVoxels); }, kJackknife, 1,
             "does not list voxel", false},
    // -- result files and the working folder
    BadInput{"ResultNameIsANonEmptyDirectory", [] { makeDirectory("bn.el.xdsl", true); },
             kJackknife, 1,
             "cannot replace the result file bn.el.xdsl: the working folder holds "
             "a directory"},
    BadInput{"FirstResultNameIsADirectory", [] { makeDirectory("model.el.torva", false); },
             kJackknife, 1, "cannot replace the result file model.el.torva"},
    // A disk that fills up: a file size limit makes every write past 1 KiB fail as a full disk
    // does (SIGXFSZ ignored, so the write returns an error instead of killing the process).
    BadInput{"DiskFullWhileWritingResults", [] {}, kList + " 2 3 > /dev/null", 1,
             "Error writing data to", false, "trap '' XFSZ; ulimit -f 1; "},
    BadInput{"SecondRunInTheSameFolder", holdWorkingFolderLock, kJackknife, 1,
             "is in use by another run (pid 4242)"});

INSTANTIATE_TEST_SUITE_P(Cases, BadInputCatalogue, kCases,
                         [](const ::testing::TestParamInfo<BadInput> &info) {
                           return std::string(info.param.name);
                         });

// Odd inputs that still make a complete run, and the cases that depend on who runs the tests.
class OddInput : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(std::system(("cp -a '" + Baseline::folder() + "/.' .").c_str()), 0);
  }
  int run(const std::string &arguments = kJackknife) {
    return runCommand("timeout 20 " + kProgram + " " + arguments);
  }
  testsupport::ScopedTempDir dir;
};

TEST_F(OddInput, MoreEntriesThanAnnouncedAreWarnedAboutAndOnlyTheAnnouncedUsed) {
  replaceInList("subjects 12", "subjects 11");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(readFile("stderr.txt"), "warning: file list " + kList +
                                        " holds more entries than the 11 it announces; only the "
                                        "first 11 are used\n");
  EXPECT_EQ(testsupport::countOf(readFile("stdout.txt"), "resampling "), 11);
}

TEST_F(OddInput, GarbageSettingsStopAtTheFirstValueAndTheRestKeepTheirDefaults) {
  const char garbage[] = "\x01\x02 garbage \xff\0 maskMethod 0\n";
  writeFile("torva.configure", std::string(garbage, sizeof garbage - 1));
  EXPECT_EQ(run(), 0) << readFile("stderr.txt");
  EXPECT_NE(readFile("stdout.txt").find("Don't use mask\n"), std::string::npos);
}

// Results are renamed into place, so a symbolic link to a full device behind a result name is
// replaced by the result itself and the device is never written.
TEST_F(OddInput, ResultNameLinkedToAFullDeviceIsReplacedByTheResult) {
  const std::string roi = readFile("roi.el.torva");
  ASSERT_EQ(std::remove("roi.el.torva"), 0);
  ASSERT_EQ(symlink("/dev/full", "roi.el.torva"), 0);
  EXPECT_EQ(run(), 0) << readFile("stderr.txt");
  struct stat info {};
  ASSERT_EQ(lstat("roi.el.torva", &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(readFile("roi.el.torva"), roi);
  EXPECT_EQ(testsupport::countEntriesStartingWith(".torva-run-"), 0);
}

TEST_F(OddInput, ReadOnlyWorkingFolderIsRefusedWithEarlierResultsKept) {
  if (geteuid() == 0)
    GTEST_SKIP() << "running as root: permissions do not stop writes; the result-name-is-a-"
                    "directory cases cover a folder the results cannot be written to";
  const auto before = resultBytes();
  ASSERT_EQ(chmod(".", 0555), 0);
  const int status = runCommand("timeout 20 " + kProgram + " " + kJackknife, "/dev/null",
                                "/tmp/torva-readonly-stderr.txt");
  ASSERT_EQ(chmod(".", 0755), 0);
  EXPECT_EQ(status, 1);
  EXPECT_NE(readFile("/tmp/torva-readonly-stderr.txt").find("cannot"), std::string::npos);
  std::remove("/tmp/torva-readonly-stderr.txt");
  expectUnchanged(before);
}

TEST_F(OddInput, ImageWithoutReadPermissionIsReportedAsUnreadable) {
  if (geteuid() == 0)
    GTEST_SKIP() << "running as root: mode 000 does not stop reading";
  ASSERT_EQ(chmod("study/s003.nii", 0), 0);
  EXPECT_EQ(run(), 1);
  const std::string errors = readFile("stderr.txt");
  EXPECT_EQ(errors.rfind("image file does not exist. \n", 0), 0u) << errors;
  EXPECT_NE(errors.find("image study/s003.nii cannot be read: Permission denied"),
            std::string::npos)
      << errors;
}

} // namespace
