#include "driver/label_vote.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "driver/result_transaction.h"
#include "util/fatal.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// Parses the integer token starting at text[pos] (after blanks were skipped) into `value` and
// moves pos past it. False when the token is not a decimal integer of int range.
bool nextInteger(const std::string &text, std::size_t &pos, long &value) {
  std::size_t p = pos;
  bool negative = false;
  if (p < text.size() && (text[p] == '-' || text[p] == '+')) {
    negative = text[p] == '-';
    ++p;
  }
  const std::size_t digitsStart = p;
  long magnitude = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    magnitude = magnitude * 10 + (text[p] - '0');
    if (magnitude > 2147483648L)
      return false;
    ++p;
  }
  if (p == digitsStart || (p < text.size() && !isBlank(text[p])))
    return false;
  value = negative ? -magnitude : magnitude;
  pos = p;
  return true;
}

// One map as a .hdr/.img pair, then as a .nii file. The header is 348 bytes; the single file
// adds the 4-byte extension flag before the data.
void writeStagedImage(ResultTransaction &results, const std::string &base, const void *data,
                      const char *typeName, long long dataBytes, int x, int y, int z,
                      const ImageGeometry &geometry) {
  const std::string header = results.stagedPath(base + ".hdr", 348);
  const std::string image = results.stagedPath(base + ".img", dataBytes);
  writeNiftiFile(header.c_str(), image.c_str(), data, typeName, x, y, z, 1, geometry);
  const std::string single = results.stagedPath(base + ".nii", 352 + dataBytes);
  writeNiftiFile(single.c_str(), single.c_str(), data, typeName, x, y, z, 1, geometry);
}

void skipBlanks(const std::string &text, std::size_t &pos) {
  while (pos < text.size() && isBlank(text[pos]))
    ++pos;
}

} // namespace

void VoteTable::reset(int regionCount, long voxelCount) {
  regions = regionCount;
  voxels = voxelCount;
  counters.assign(static_cast<std::size_t>(voxelCount) * (regionCount + 1), 0);
}

bool regionTranslation(const ModelRecord &member, const ModelRecord &mode,
                       std::vector<int> &toMode) {
  const int regions = std::clamp(member[1], 0, kModelRecordIds);
  const int modeRegions = std::clamp(mode[1], 0, kModelRecordIds);
  toMode.assign(regions + 1, 0);
  for (int r = 1; r <= regions; ++r) {
    const int id = member[1 + r];
    for (int s = 1; s <= modeRegions; ++s) {
      if (mode[1 + s] == id) {
        toMode[r] = s;
        break;
      }
    }
    if (toMode[r] == 0)
      return false;
  }
  return true;
}

std::string addVotes(const std::string &path, const std::string &text,
                     const std::vector<int> &toMode, VoteTable &table) {
  const int memberRegions = static_cast<int>(toMode.size()) - 1;
  const int width = table.regions + 1;
  int *counters = table.counters.data();
  std::size_t pos = 0;
  for (long v = 0; v < table.voxels; ++v) {
    skipBlanks(text, pos);
    long label = 0;
    if (pos >= text.size() || !nextInteger(text, pos, label)) {
      std::ostringstream message;
      message << "iteration label file " << path << " holds " << v << " labels, but the study has "
              << table.voxels << " voxels\n";
      return message.str();
    }
    if (label > memberRegions) {
      std::ostringstream message;
      message << "iteration label file " << path << ": voxel " << v + 1 << " is labelled " << label
              << ", but that iteration found " << memberRegions << " regions\n";
      return message.str();
    }
    const int s = label >= 1 ? toMode[label] : 0;
    ++counters[v * width + s];
  }
  return std::string();
}

std::string addVotesFromFile(const std::string &path, const std::vector<int> &toMode,
                             VoteTable &table, std::string &buffer) {
  std::FILE *in = std::fopen(path.c_str(), "rb");
  if (in == nullptr)
    return "iteration label file " + path + " is missing\n";
  buffer.clear();
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
    buffer.append(chunk, got);
  const bool readError = std::ferror(in) != 0;
  std::fclose(in);
  if (readError)
    return "iteration label file " + path + " cannot be read\n";
  return addVotes(path, buffer, toMode, table);
}

void consensusLabels(const VoteTable &table, int members, std::vector<int> &labels,
                     std::vector<int> &frequencies) {
  labels.assign(table.voxels, 0);
  frequencies.assign(table.voxels, 0);
  const int width = table.regions + 1;
  // Divided first, multiplied second, then truncated: three members all voting 2 give 100.
  const double percentPerVote = 100.0 / members;
  for (long v = 0; v < table.voxels; ++v) {
    const int *votes = table.counters.data() + v * width;
    int label = 0;
    for (int s = 1; s < width; ++s) {
      if (votes[s] > votes[label]) // strict: the lower label keeps a tie
        label = s;
    }
    labels[v] = label;
    frequencies[v] = label == 0 ? 0 : static_cast<int>(percentPerVote * votes[label]);
  }
}

std::string roiFileText(int regions, const std::vector<int> &labels) {
  std::string text = std::to_string(regions) + " " + std::to_string(labels.size()) + "\n";
  text.reserve(text.size() + labels.size() * 2 + 1);
  char number[16];
  for (const int label : labels) {
    const int length = std::snprintf(number, sizeof number, "%d ", label);
    text.append(number, static_cast<std::size_t>(length));
  }
  text += "\n";
  return text;
}

void writeResultImages(const std::vector<int> &labels, const std::vector<int> &frequencies, int x,
                       int y, int z, const ImageGeometry &geometry, ResultTransaction &results) {
  const std::vector<unsigned char> labelBytes(labels.begin(), labels.end());
  const std::vector<float> percentages(frequencies.begin(), frequencies.end());
  const auto voxels = static_cast<long long>(x) * y * z;
  writeStagedImage(results, "label_field_torvael", labelBytes.data(), "NIFTI_TYPE_UINT8", voxels, x,
                   y, z, geometry);
  writeStagedImage(results, "prob_map_torvael", percentages.data(), "NIFTI_TYPE_FLOAT32",
                   voxels * 4, x, y, z, geometry);
}
