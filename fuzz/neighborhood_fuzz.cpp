// The neighbourhood file reader and the symmetry check. Input: one byte for the volume size
// (1 .. 64 voxels), one bit per voxel marking the members, then the file's text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "segment/neighborhood.h"

using fuzzsupport::expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const std::size_t volume = data[0] % 64 + 1;
  const std::size_t maskBytes = (volume + 7) / 8;
  if (size < 1 + maskBytes)
    return 0;
  std::vector<int> memberIndex(volume, -1);
  std::vector<int> members;
  for (std::size_t v = 0; v < volume; ++v) {
    if ((data[1 + v / 8] >> (v % 8)) & 1) {
      memberIndex[v] = static_cast<int>(members.size());
      members.push_back(static_cast<int>(v));
    }
  }
  const std::size_t head = 1 + maskBytes;
  fuzzsupport::MemoryFile text(data + head, size - head);
  std::FILE *file = std::fopen(text.path().c_str(), "r");
  expect(file != nullptr, "open the memory file");
  std::vector<std::vector<int>> lists(members.size());
  std::string error;
  const bool parsed = parse_nbhd_file(lists, file, memberIndex, "nbhd_system.torva", error);
  std::fclose(file);
  if (!parsed) {
    expect(error.find("nbhd_system.torva") != std::string::npos, "the error names the file");
    return 0;
  }
  for (const std::vector<int> &list : lists) {
    expect(list.size() % 2 == 0, "lists hold (tag, index) pairs");
    for (std::size_t k = 0; k + 1 < list.size(); k += 2) {
      expect(list[k] == 0, "the tag is 0");
      expect(list[k + 1] >= 0 && static_cast<std::size_t>(list[k + 1]) < volume &&
                 memberIndex[static_cast<std::size_t>(list[k + 1])] >= 0,
             "a listed neighbour is a member voxel");
    }
  }
  error.clear();
  if (!check_nbhd_symmetric(members, lists, "nbhd_system.torva", error))
    expect(error.find("nbhd_system.torva") != std::string::npos, "the error names the file");
  return 0;
}
