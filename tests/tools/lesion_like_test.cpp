// The lesion-like example study: its summary arithmetic, its anatomy, and whole generated studies
// checked image by image against the figures the generator prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nifti1_io.h>

#include "lesion_like.h"
#include "support/temp_dir.h"

namespace {

using lesionlike::Grid;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;

TEST(LesionLikeSummary, MedianMinimumMaximumAndOverlap) {
  // Sorted volumes 1 3 5 9: the median is the mean of the middle two, 4.
  const auto even = lesionlike::summarize({5, 1, 9, 3}, {0, 2, 1, 0, 3});
  EXPECT_EQ(even.medianVolume, 4);
  EXPECT_EQ(even.minVolume, 1);
  EXPECT_EQ(even.maxVolume, 9);
  EXPECT_EQ(even.hitAtLeastOnce, 3);
  EXPECT_EQ(even.largestOverlap, 3);
  // Four subjects: every share's bound is 0 (4 * 0.2 = 0.8), so each hit voxel counts.
  EXPECT_EQ(even.overShares, (std::array<long, 3>{3, 3, 3}));
  // Twenty subjects: bounds 1, 2 and 4; hits of 1, 2, 3, 5 and 9.
  const auto twenty = lesionlike::summarize(std::vector<long>(20, 1), {1, 2, 3, 5, 9, 0});
  EXPECT_EQ(twenty.overShares, (std::array<long, 3>{4, 3, 2}));
  const auto odd = lesionlike::summarize({7, 2, 5}, {0, 0});
  EXPECT_EQ(odd.medianVolume, 5);
  EXPECT_EQ(odd.hitAtLeastOnce, 0);
  EXPECT_EQ(odd.largestOverlap, 0);
}

TEST(LesionLikeOutcome, UpperHalfOfTheScoresIsOne) {
  EXPECT_EQ(lesionlike::outcomesAboveMedian({0.3, 0.1, 0.9, 0.5}), (std::vector<int>{0, 0, 1, 1}));
  // Odd count: the middle score stays 0, so 1 of 3.
  EXPECT_EQ(lesionlike::outcomesAboveMedian({0.2, 0.8, 0.5}), (std::vector<int>{0, 1, 0}));
  // Equal scores: the later subjects take the 1s.
  EXPECT_EQ(lesionlike::outcomesAboveMedian({0.0, 0.0, 0.0, 0.0}), (std::vector<int>{0, 0, 1, 1}));
}

long countOf(const std::vector<unsigned char> &mask) {
  return std::count(mask.begin(), mask.end(), 1);
}

TEST(LesionLikeAnatomy, BrainFillsAQuarterOfTheTemplateGridAwayFromItsFaces) {
  const Grid grid{91, 109, 91};
  const auto brain = lesionlike::brainMask(grid);
  const double share = static_cast<double>(countOf(brain)) / grid.voxels();
  EXPECT_GT(share, 0.18);
  EXPECT_LT(share, 0.32);
  for (int k = 0; k < grid.z; ++k)
    for (int j = 0; j < grid.y; ++j)
      for (int i = 0; i < grid.x; ++i) {
        const bool face =
            i == 0 || j == 0 || k == 0 || i == grid.x - 1 || j == grid.y - 1 || k == grid.z - 1;
        if (face) {
          ASSERT_EQ(brain[grid.index(i, j, k)], 0) << i << " " << j << " " << k;
        }
        // The hemispheres mirror each other about the grid's middle plane.
        ASSERT_EQ(brain[grid.index(i, j, k)], brain[grid.index(grid.x - 1 - i, j, k)]);
      }
}

TEST(LesionLikeAnatomy, OneMillimetreGridHoldsTheSameBrainAtEightTimesTheVoxels) {
  const long coarse = countOf(lesionlike::brainMask(Grid{91, 109, 91}));
  const long fine = countOf(lesionlike::brainMask(Grid{181, 217, 181}));
  EXPECT_NEAR(static_cast<double>(fine) / coarse, 7.88, 0.1); // (181/91)^2 * 217/109
}

TEST(LesionLikeAnatomy, ParcelLiesInsideOneHemisphereOfTheBrain) {
  const Grid grid{91, 109, 91};
  const auto brain = lesionlike::brainMask(grid);
  const auto parcel = lesionlike::parcelMask(grid);
  EXPECT_GT(countOf(parcel), 300);
  for (int k = 0; k < grid.z; ++k)
    for (int j = 0; j < grid.y; ++j)
      for (int i = 0; i < grid.x; ++i)
        if (parcel[grid.index(i, j, k)]) {
          ASSERT_EQ(brain[grid.index(i, j, k)], 1);
          ASSERT_LT(i, grid.x / 2);
        }
}

// A generated study read back: per subject its states and outcome.
struct ReadStudy {
  std::vector<std::vector<unsigned char>> maps;
  std::vector<int> outcomes;
  float voxelSize = 0.0f;
  std::string error; // empty when everything read back as expected
};

ReadStudy readStudy(const std::string &listPath, const Grid &grid) {
  ReadStudy study;
  std::ifstream list(listPath);
  std::string word, file;
  int subjects = 0, id = 0, fv = 0;
  long nodes = 0;
  list >> word >> subjects >> word >> nodes;
  std::getline(list, word);
  std::getline(list, word);
  std::getline(list, word);
  if (nodes != grid.voxels() + 1)
    study.error = "node count " + std::to_string(nodes);
  while (study.error.empty() && list >> id >> file >> fv) {
    nifti_image *image = nifti_image_read(file.c_str(), 1);
    if (image == nullptr || image->nx != grid.x || image->ny != grid.y || image->nz != grid.z) {
      study.error = "cannot read " + file + " or wrong extents";
      break;
    }
    study.voxelSize = image->dx;
    std::vector<unsigned char> states(grid.voxels());
    for (long v = 0; v < grid.voxels(); ++v) {
      const double value = image->datatype == DT_FLOAT32
                               ? static_cast<float *>(image->data)[v]
                               : static_cast<unsigned char *>(image->data)[v];
      if (value != 0.0 && value != 1.0)
        study.error = file + " holds " + std::to_string(value);
      states[v] = value == 1.0;
    }
    nifti_image_free(image);
    study.maps.push_back(states);
    study.outcomes.push_back(fv);
  }
  if (study.error.empty() && static_cast<int>(study.maps.size()) != subjects)
    study.error = "the list announces " + std::to_string(subjects) + " subjects";
  return study;
}

// Pieces of a lesion map, voxels touching by a face, edge or corner.
int componentsOf(const std::vector<unsigned char> &map, const Grid &grid) {
  std::vector<unsigned char> seen(map.size(), 0);
  std::vector<long> stack;
  int components = 0;
  for (long start = 0; start < grid.voxels(); ++start) {
    if (!map[start] || seen[start])
      continue;
    ++components;
    seen[start] = 1;
    stack.push_back(start);
    while (!stack.empty()) {
      const long v = stack.back();
      stack.pop_back();
      const int i = v % grid.x, j = (v / grid.x) % grid.y, k = v / (grid.x * grid.y);
      for (int dk = -1; dk <= 1; ++dk)
        for (int dj = -1; dj <= 1; ++dj)
          for (int di = -1; di <= 1; ++di) {
            const int a = i + di, b = j + dj, c = k + dk;
            if (a < 0 || b < 0 || c < 0 || a >= grid.x || b >= grid.y || c >= grid.z)
              continue;
            const long w = grid.index(a, b, c);
            if (map[w] && !seen[w]) {
              seen[w] = 1;
              stack.push_back(w);
            }
          }
    }
  }
  return components;
}

// The numbers after the given text on the printed line that holds it.
std::vector<long> figuresAfter(const std::string &printed, const std::string &label) {
  std::vector<long> numbers;
  const auto at = printed.find(label);
  if (at == std::string::npos)
    return numbers;
  std::string line = printed.substr(at + label.size());
  line = line.substr(0, line.find('\n'));
  for (char &c : line)
    if ((c < '0' || c > '9') && c != '.')
      c = ' ';
  std::istringstream in(line);
  for (double n; in >> n;)
    numbers.push_back(static_cast<long>(n));
  return numbers;
}

struct GeneratedStudy {
  const char *name;
  Grid grid;
  int subjects;
  const char *options;
  float voxelSize;
  double medianVolume = 11000.0; // in 2 mm voxels
  int otherSide = 1;             // subjects lesioned on the smaller hemisphere's other side
};

void PrintTo(const GeneratedStudy &study, std::ostream *out) { *out << study.name; }

class LesionLikeStudies : public ::testing::TestWithParam<GeneratedStudy> {};

TEST_P(LesionLikeStudies, ImagesAgreeWithTheAnatomyAndThePrintedFigures) {
  const GeneratedStudy param = GetParam();
  const Grid grid = param.grid;
  ScopedTempDir dir;
  const std::string size =
      std::to_string(grid.x) + " " + std::to_string(grid.y) + " " + std::to_string(grid.z);
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) + " --lesion --out study --size " +
                       size + " --subjects " + std::to_string(param.subjects) + " " +
                       param.options),
            0)
      << readFile("stderr.txt");
  const std::string printed = readFile("stdout.txt");
  const ReadStudy study = readStudy("study/torva.prj.filelist", grid);
  ASSERT_EQ(study.error, "");
  ASSERT_EQ(static_cast<int>(study.maps.size()), param.subjects);
  EXPECT_FLOAT_EQ(study.voxelSize, param.voxelSize);

  const auto brain = lesionlike::brainMask(grid);
  const auto parcel = lesionlike::parcelMask(grid);
  std::vector<unsigned short> hits(grid.voxels(), 0);
  std::vector<long> volumes;
  double parcelLoad[2] = {0.0, 0.0};
  int otherSide = 0;
  for (int s = 0; s < param.subjects; ++s) {
    const auto &map = study.maps[s];
    long volume = 0, parcelHit = 0, sides[2] = {0, 0};
    for (int k = 0; k < grid.z; ++k)
      for (int j = 0; j < grid.y; ++j)
        for (int i = 0; i < grid.x; ++i) {
          const long v = grid.index(i, j, k);
          if (!map[v])
            continue;
          ASSERT_EQ(brain[v], 1) << "subject " << s + 1 << " lesioned outside the brain at " << v;
          ++volume;
          ++hits[v];
          parcelHit += parcel[v];
          ++sides[2 * i < grid.x - 1 ? 0 : 1];
        }
    volumes.push_back(volume);
    parcelLoad[study.outcomes[s]] += parcelHit;
    EXPECT_GT(volume, 0) << "subject " << s + 1;
    // One to three blobs, all in one hemisphere (blobs may merge into fewer pieces).
    const int pieces = componentsOf(map, grid);
    EXPECT_GE(pieces, 1) << "subject " << s + 1;
    EXPECT_LE(pieces, 3) << "subject " << s + 1;
    EXPECT_TRUE(sides[0] == 0 || sides[1] == 0) << "subject " << s + 1;
    otherSide += sides[1] > 0 ? 1 : 0;
  }
  EXPECT_EQ(otherSide, param.otherSide);

  // Half the subjects have outcome 1, and they carry more of the parcel's lesion load.
  const long ones = std::count(study.outcomes.begin(), study.outcomes.end(), 1);
  EXPECT_EQ(ones, param.subjects / 2);
  EXPECT_GT(parcelLoad[1], parcelLoad[0]);

  // The printed figures are those of the images written.
  const auto figures = lesionlike::summarize(volumes, hits);
  EXPECT_EQ(figuresAfter(printed, "lesion volume in voxels:"),
            (std::vector<long>{figures.medianVolume, figures.minVolume, figures.maxVolume}));
  const auto hitOnce = figuresAfter(printed, "voxels lesioned in at least one subject:");
  ASSERT_FALSE(hitOnce.empty());
  EXPECT_EQ(hitOnce[0], figures.hitAtLeastOnce);
  const auto overlap = figuresAfter(printed, "most-hit voxels: lesioned in");
  ASSERT_FALSE(overlap.empty());
  EXPECT_EQ(overlap[0], figures.largestOverlap);
  EXPECT_EQ(figuresAfter(printed, "outcome 1:"), (std::vector<long>{ones, param.subjects}));
  const char *shares[] = {"5 %", "10 %", "20 %"};
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(figuresAfter(printed, std::string("voxels lesioned in more than ") + shares[k] +
                                        " of the subjects:"),
              (std::vector<long>{figures.overShares[k]}))
        << shares[k];

  // Volumes keep their size in mm: the cohort's 2 mm median scaled to this grid.
  const double voxelRatio = grid.voxels() / (91.0 * 109.0 * 91.0);
  EXPECT_NEAR(figures.medianVolume / voxelRatio, param.medianVolume,
              2000.0 * param.medianVolume / 11000.0);
}

INSTANTIATE_TEST_SUITE_P(
    Generator, LesionLikeStudies,
    ::testing::Values(
        GeneratedStudy{"HalfGridUint8", {46, 55, 46}, 24, "--seed 3", 2.0f},
        GeneratedStudy{"FloatPairsOneMillimetre",
                       {40, 48, 40},
                       15,
                       "--type float32 --format pair --voxel-size 1 --seed 8",
                       1.0f,
                       11000.0,
                       1},
        // 35 % of 40 on the other side, lesions of 6000 2 mm voxels.
        GeneratedStudy{"WideCohort", {46, 55, 46}, 40, "--cohort wide --seed 4", 2.0f, 6000.0, 14}),
    [](const ::testing::TestParamInfo<GeneratedStudy> &info) {
      return std::string(info.param.name);
    });

TEST(LesionLikeGenerator, SameSeedSameStudyOtherSeedOtherLesions) {
  ScopedTempDir dir;
  const std::string generate =
      std::string(MAKE_EXAMPLE_STUDY_PATH) + " --lesion --size 30 36 30 --subjects 6 --out ";
  ASSERT_EQ(runCommand(generate + "a --seed 5"), 0);
  ASSERT_EQ(runCommand(generate + "b --seed 5"), 0);
  ASSERT_EQ(runCommand(generate + "c --seed 6"), 0);
  for (const char *file : {"/s001.nii", "/s006.nii", "/regions.txt"})
    EXPECT_EQ(readFile(std::string("a") + file), readFile(std::string("b") + file)) << file;
  EXPECT_NE(readFile("a/s001.nii"), readFile("c/s001.nii"));
  std::string listA = readFile("a/torva.prj.filelist"), listB = readFile("b/torva.prj.filelist");
  // The lists name their own folder; everything else matches.
  for (auto at = listB.find(" b/"); at != std::string::npos; at = listB.find(" b/", at))
    listB.replace(at, 3, " a/");
  EXPECT_EQ(listA, listB);
}

} // namespace
