#include "run/label_vote.h"
#include "results/result_transaction.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "util/fatal.h"

namespace {

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

std::string addVotes(int iteration, const LabelRuns &runs, const std::vector<int> &toMode,
                     VoteTable &table) {
  const int memberRegions = static_cast<int>(toMode.size()) - 1;
  const int width = table.regions + 1;
  int *counters = table.counters.data();
  const long voxels = table.voxels;
  long v = 0;
  for (const LabelRun &run : runs) {
    if (v >= voxels)
      break;
    if (run.value > memberRegions) {
      std::ostringstream message;
      message << "iteration " << iteration << ": voxel " << v + 1 << " is labelled " << run.value
              << ", but that iteration found " << memberRegions << " regions\n";
      return message.str();
    }
    const int s = run.value >= 1 ? toMode[run.value] : 0;
    const std::uint64_t room = static_cast<std::uint64_t>(voxels - v);
    const long end = v + static_cast<long>(run.length < room ? run.length : room);
    for (; v < end; ++v)
      ++counters[v * width + s];
  }
  if (v < voxels) {
    std::ostringstream message;
    message << "iteration " << iteration << ": its label field holds " << v
            << " labels, but the study has " << voxels << " voxels\n";
    return message.str();
  }
  return std::string();
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
