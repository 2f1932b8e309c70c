// The merge's shard-file reader: a file is refused with a message naming it, or read into a
// shard that writes back and reads again to the same contents. Half the inputs get their
// payload length and checksum set to match, so that mutations reach the payload decoder
// instead of stopping at the checksum.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "shard/shard_file.h"
#include "util/hash.h"

using fuzzsupport::expect;

namespace {

constexpr std::size_t kHeaderBytes = 28; // magic, version, payload length, checksum

void putLittleEndian(std::string &bytes, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  if (data[0] % 2 == 1 && bytes.size() >= kHeaderBytes) {
    const std::size_t payload = bytes.size() - kHeaderBytes;
    putLittleEndian(bytes, 12, payload);
    putLittleEndian(bytes, 20, fnv1a64(bytes.data() + kHeaderBytes, payload));
  }
  const std::string path = fuzzsupport::scratchFolder() + "/shard.torva";
  fuzzsupport::writeWholeFile(path, reinterpret_cast<const std::uint8_t *>(bytes.data()),
                              bytes.size());
  ShardFile shard;
  std::string error;
  if (!readShardFile(path, shard, error)) {
    expect(error.find(path) != std::string::npos, "the error names the file");
    return 0;
  }
  expect(shard.records.size() == shard.labels.size(), "one label field per record");
  expect(shard.representativeShare > 0 && shard.representativeShare < 1, "the share is a share");
  const std::string again = fuzzsupport::scratchFolder() + "/again.torva";
  expect(writeShardFile(again, shard, error), "a shard that was read can be written");
  ShardFile back;
  expect(readShardFile(again, back, error), "a written shard reads back");
  expect(back.records.size() == shard.records.size() && back.voxels == shard.voxels &&
             back.iterations == shard.iterations && back.runLog == shard.runLog &&
             back.hasRunLog == shard.hasRunLog &&
             back.representativeShare == shard.representativeShare,
         "the shard survives the round trip");
  for (std::size_t i = 0; i < shard.labels.size(); ++i) {
    std::vector<int> labels;
    std::vector<int> labelsBack;
    decodeLabelRuns(shard.labels[i], labels);
    decodeLabelRuns(back.labels[i], labelsBack);
    expect(labels == labelsBack, "label fields survive the round trip");
    expect(labels.size() == shard.voxels, "every label field covers the volume");
  }
  return 0;
}
