#include "prepare/study_builder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

#include "prepare/lesion_mask.h"
#include "prepare/numbers.h"
#include "prepare/participants_table.h"
#include "prepare/subject_selection.h"
#include "results/result_transaction.h"
#include "roi/overlap_note.h"
#include "roi/roi_settings.h"
#include "util/stop_signal.h"

namespace {

constexpr long kMaxOverlap = 32767; // int16 voxels of overlap.nii

// A run's temporaries; a killed run's are removed by the next one, so they do not count as
// content of the folder.
bool isRunFolder(const char *name) {
  return std::strncmp(name, ".torva-run-", 11) == 0 || std::strncmp(name, ".torva-new-", 11) == 0;
}

// Entries of the folder `path` other than "." and ".." and run folders, or -1 when it cannot be
// listed.
long entriesOf(const std::string &path) {
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr)
    return -1;
  long count = 0;
  while (const dirent *entry = readdir(dir))
    count += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
             !isRunFolder(entry->d_name);
  closedir(dir);
  return count;
}

std::string checkOutputFolder(const PrepareOptions &options) {
  struct stat info {};
  if (stat(options.out.c_str(), &info) != 0)
    return {};
  if (!S_ISDIR(info.st_mode))
    return "output " + options.out + " exists and is not a folder";
  const long entries = entriesOf(options.out);
  if (entries < 0)
    return "output folder " + options.out + " cannot be listed";
  if (entries > 0 && !options.force)
    return "output folder " + options.out + " is not empty (" + std::to_string(entries) +
           " entries); give --force to write into it";
  return {};
}

std::string makeFolder(const std::string &path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    return "cannot create the folder " + path + ": " + std::strerror(errno);
  return {};
}

// Every mask must share the first mask's grid; read from the headers only, so a mismatch is
// refused before anything is written.
std::string checkGrids(const std::vector<PreparedSubject> &subjects) {
  MaskGrid first;
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    if (torva::stopRequested())
      return std::string("stopped while checking the masks");
    MaskGrid grid;
    std::string problem = readMaskGrid(subjects[i].maskPath, grid);
    if (problem.empty() && i > 0)
      problem = compareGrids(first, grid);
    if (!problem.empty())
      return problem + " (table line " + std::to_string(subjects[i].line) + ", id " +
             subjects[i].idText + ")";
    if (i == 0)
      first = grid;
  }
  return {};
}

// Text of a table field written back into one tab-separated column.
std::string tsvField(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

std::string writeText(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out ? std::string() : "cannot write " + path;
}

std::string fileListText(const std::vector<PreparedSubject> &subjects, int x, int y, int z) {
  const long voxels = static_cast<long>(x) * y * z;
  std::string text = "subjects " + std::to_string(subjects.size()) + "\nnodes " +
                     std::to_string(voxels + 1) + "\nsize " + std::to_string(x) + " " +
                     std::to_string(y) + " " + std::to_string(z) + "\nid file fv\n";
  for (const PreparedSubject &s : subjects)
    text +=
        std::to_string(s.listId) + " img/" + s.imageName + " " + std::to_string(s.outcome) + "\n";
  return text;
}

std::string subjectsTableText(const std::vector<PreparedSubject> &subjects) {
  std::string text = "list_id\tid\tmask\toutcome_value\toutcome\n";
  for (const PreparedSubject &s : subjects)
    text += std::to_string(s.listId) + "\t" + tsvField(s.idText) + "\t" + tsvField(s.maskPath) +
            "\t" + tsvField(s.outcomeText) + "\t" + std::to_string(s.outcome) + "\n";
  return text;
}

std::string lesionRuleText(const LesionRule &rule) {
  return rule.hasThreshold ? "value >= " + numberText(rule.threshold) : "value > 0";
}

// Reads, binarises and writes every subject's image, adding it to the overlap counts.
std::string writeSubjectImages(const PrepareOptions &options, const std::string &imageFolder,
                               const std::vector<PreparedSubject> &subjects,
                               PrepareSummary &summary, std::vector<std::int16_t> &overlap,
                               ImageGeometry &overlapGeometry) {
  LesionRule rule;
  rule.hasThreshold = options.hasThreshold;
  rule.threshold = options.threshold;
  summary.lesionRule = lesionRuleText(rule);
  for (std::size_t s = 0; s < subjects.size(); ++s) {
    if (torva::stopRequested()) // a compressed 1 mm mask takes a while to read
      return std::string("stopped while writing the study's images");
    BinaryMask mask;
    std::string problem = loadBinaryMask(subjects[s].maskPath, rule, mask);
    if (!problem.empty())
      return problem;
    if (options.downsample == 2)
      mask = downsampledByTwo(mask);
    if (s == 0) {
      summary.x = mask.x;
      summary.y = mask.y;
      summary.z = mask.z;
      overlap.assign(mask.voxels.size(), 0);
      overlapGeometry = mask.geometry;
    }
    const std::string path = imageFolder + "/" + subjects[s].imageName;
    if (!writeNiftiImage(path.c_str(), path.c_str(), mask.voxels.data(), "NIFTI_TYPE_UINT8", mask.x,
                         mask.y, mask.z, mask.geometry, problem))
      return problem;
    long volume = 0;
    for (std::size_t v = 0; v < mask.voxels.size(); ++v) {
      volume += mask.voxels[v];
      if (mask.voxels[v] != 0 && overlap[v] < kMaxOverlap)
        ++overlap[v];
    }
    summary.volumes.push_back(volume);
    summary.notBinary += mask.wasBinary ? 0 : 1;
  }
  return {};
}

// Every file of the study is written into a run folder inside options.out and put in place
// only when all were written, so a failure (or a kill) leaves an earlier study as it was.
std::string writeStagedStudy(const PrepareOptions &options,
                             const std::vector<PreparedSubject> &subjects,
                             PrepareSummary &summary) {
  ResultTransaction staged(options.out);
  std::string problem = staged.open();
  if (!problem.empty())
    return problem.substr(0, problem.size() - 1);
  const std::string imageFolder = staged.stagedFolder("img");
  if (imageFolder.empty())
    return "cannot create the folder for the study's images in " + options.out;
  std::vector<std::int16_t> overlap;
  ImageGeometry geometry;
  problem = writeSubjectImages(options, imageFolder, subjects, summary, overlap, geometry);
  if (!problem.empty())
    return problem;
  const long kept = static_cast<long>(subjects.size());
  const long bound = normTestBound(kept, kDefaultRepresentativeShare);
  std::array<long, 3> shareBounds{};
  for (std::size_t k = 0; k < shareBounds.size(); ++k)
    shareBounds[k] = normTestBound(kept, kSummaryShares[k]);
  for (const std::int16_t count : overlap) {
    summary.lesionedAnywhere += count > 0;
    summary.overAFifth += count > bound;
    for (std::size_t k = 0; k < shareBounds.size(); ++k)
      summary.overShares[k] += count > shareBounds[k];
    summary.largestOverlap = std::max<long>(summary.largestOverlap, count);
  }
  summary.voxelMm3 =
      std::fabs(geometry.pixdim[1]) * std::fabs(geometry.pixdim[2]) * std::fabs(geometry.pixdim[3]);
  const std::string overlapPath = staged.stagedPath("overlap.nii");
  if (!writeNiftiImage(overlapPath.c_str(), overlapPath.c_str(), overlap.data(), "NIFTI_TYPE_INT16",
                       summary.x, summary.y, summary.z, geometry, problem))
    return problem;
  problem = writeText(staged.stagedPath("torva.prj.filelist"),
                      fileListText(subjects, summary.x, summary.y, summary.z));
  if (problem.empty())
    problem = writeText(staged.stagedPath("subjects.tsv"), subjectsTableText(subjects));
  if (problem.empty())
    problem = staged.commit();
  if (!problem.empty() && problem.back() == '\n')
    problem.pop_back();
  return problem;
}

std::string writeStudy(const PrepareOptions &options, const std::vector<PreparedSubject> &subjects,
                       PrepareSummary &summary) {
  struct stat info {};
  const bool existed = stat(options.out.c_str(), &info) == 0;
  std::string problem = makeFolder(options.out);
  if (problem.empty())
    problem = writeStagedStudy(options, subjects, summary);
  if (!problem.empty() && !existed)
    rmdir(options.out.c_str()); // only when nothing else was put there meanwhile
  return problem;
}

double median(std::vector<long> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

} // namespace

std::string prepareStudy(const PrepareOptions &options, PrepareSummary &summary) {
  summary = PrepareSummary{};
  summary.out = options.out;
  std::string problem = checkOutputFolder(options);
  if (!problem.empty())
    return problem;
  ParticipantsTable table;
  problem = readParticipantsTable(options.table, table);
  if (!problem.empty())
    return problem;
  SubjectSelection selection;
  problem = selectSubjects(table, options, selection);
  summary.warnings = selection.warnings;
  if (!problem.empty())
    return problem;
  summary.rows = static_cast<long>(table.rows.size());
  summary.kept = static_cast<long>(selection.subjects.size());
  summary.skippedNoId = selection.skippedNoId;
  summary.skippedOutcome = selection.skippedOutcome;
  summary.skippedMissingMask = selection.skippedMissingMask;
  for (const PreparedSubject &s : selection.subjects)
    summary.outcomeOnes += s.outcome;
  problem = checkGrids(selection.subjects);
  if (problem.empty())
    problem = writeStudy(options, selection.subjects, summary);
  return problem;
}

std::string formatSummary(const PrepareSummary &s) {
  const long skipped = s.rows - s.kept;
  const auto volumes = [&s](double scale) {
    const auto [low, high] = std::minmax_element(s.volumes.begin(), s.volumes.end());
    return "median " + numberText(median(s.volumes) * scale) + ", min " + numberText(*low * scale) +
           ", max " + numberText(*high * scale);
  };
  std::string text = "subjects: " + std::to_string(s.kept) + " kept, " + std::to_string(skipped) +
                     " skipped of " + std::to_string(s.rows) + " rows";
  if (skipped > 0)
    text += " (outcome missing or not a number: " + std::to_string(s.skippedOutcome) +
            ", mask missing: " + std::to_string(s.skippedMissingMask) +
            ", no id: " + std::to_string(s.skippedNoId) + ")";
  text += "\noutcome 1: " + std::to_string(s.outcomeOnes) + " of " + std::to_string(s.kept) +
          " subjects\n";
  text += "masks not already 0/1: " + std::to_string(s.notBinary) + " (lesioned where " +
          s.lesionRule + ")\n";
  text += "grid: " + std::to_string(s.x) + " x " + std::to_string(s.y) + " x " +
          std::to_string(s.z) + " voxels of " + numberText(s.voxelMm3) + " mm3\n";
  text += "lesion volume in voxels: " + volumes(1.0) + "\n";
  text += "lesion volume in mm3: " + volumes(s.voxelMm3) + "\n";
  text += "voxels lesioned in at least one subject: " + std::to_string(s.lesionedAnywhere) +
          "; largest overlap: " + std::to_string(s.largestOverlap) + " subjects\n";
  text += "voxels lesioned in more than a fifth of the subjects: " + std::to_string(s.overAFifth) +
          "\n";
  // What each representativeShare would let the search consider.
  for (std::size_t k = 0; k < kSummaryShares.size(); ++k)
    text += std::string("voxels lesioned in more than ") + kSummaryShareNames[k] +
            " of the subjects: " + std::to_string(s.overShares[k]) + "\n";
  text += "next: cd " + s.out + " && torvacoreel torva.prj.filelist 1 0\n";
  return text;
}

std::string overlapWarning(const PrepareSummary &summary) {
  return summary.overAFifth == 0 ? fewOverlapsWarning(summary.largestOverlap, summary.kept)
                                 : std::string();
}
