#include "shard/shard_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "run/resampling_method.h"
#include "util/hash.h"

// --- shard.torva ---------------------------------------------------------------------------
//
// Binary, little-endian whatever the machine:
//   "TORVASHD" | u32 version | u64 payload length | u64 fnv1a64 of the payload | payload
// payload:
//   u64 list hash | u32 image count | per image u64 file size, u64 voxel hash
//   i32 method, size argument, iterations, K, N | u64 voxels
//   u64 IEEE-754 bits of the representativeShare (from version 3)
//   per iteration of the range: 22 x i32 model record
//   per iteration of the range: varint run count, per run zigzag-varint value, varint length
//   per iteration of the range: varint prediction count, per prediction varint subject
//     position, u64 IEEE-754 bits of P(outcome = 1)
//   u8 has run log | varint length, log bytes (when present)

namespace {

constexpr char kMagic[8] = {'T', 'O', 'R', 'V', 'A', 'S', 'H', 'D'};
// Version 2 added the held-out predictions; a version-1 file lacks them, so it cannot be merged.
// Version 3 added the representativeShare; a version-2 file was run with the default share.
constexpr std::uint32_t kVersion = 3;
constexpr std::uint32_t kOldestVersion = 2; // the reader's message names both
constexpr std::size_t kHeaderBytes = sizeof kMagic + 4 + 8 + 8;

class ByteWriter {
public:
  void real(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    u64(bits);
  }
  void fixed(std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out_.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
  }
  void u32(std::uint32_t value) { fixed(value, 4); }
  void u64(std::uint64_t value) { fixed(value, 8); }
  void i32(int value) { u32(static_cast<std::uint32_t>(value)); }
  void varint(std::uint64_t value) {
    while (value >= 0x80) {
      out_.push_back(static_cast<char>((value & 0x7Fu) | 0x80u));
      value >>= 7;
    }
    out_.push_back(static_cast<char>(value));
  }
  void zigzag(int value) {
    const auto wide = static_cast<std::int64_t>(value);
    varint((static_cast<std::uint64_t>(wide) << 1) ^ static_cast<std::uint64_t>(wide >> 63));
  }
  void bytes(const std::string &text) { out_ += text; }
  const std::string &text() const { return out_; }

private:
  std::string out_;
};

// Reads from a byte buffer; every read past the end sets `failed` and yields zero, so callers
// check once per section rather than per value.
class ByteReader {
public:
  ByteReader(const std::string &data, std::size_t start) : data_(data), at_(start) {}
  std::uint64_t fixed(int bytes) {
    if (remaining() < static_cast<std::size_t>(bytes)) {
      failed = true;
      at_ = data_.size();
      return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
      value |= static_cast<std::uint64_t>(static_cast<unsigned char>(data_[at_ + i])) << (8 * i);
    at_ += static_cast<std::size_t>(bytes);
    return value;
  }
  std::uint32_t u32() { return static_cast<std::uint32_t>(fixed(4)); }
  std::uint64_t u64() { return fixed(8); }
  double real() {
    const std::uint64_t bits = u64();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  int i32() { return static_cast<int>(static_cast<std::int32_t>(u32())); }
  std::uint64_t varint() {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const auto byte = static_cast<std::uint64_t>(fixed(1));
      if (failed)
        return 0;
      value |= (byte & 0x7Fu) << shift;
      if ((byte & 0x80u) == 0)
        return value;
    }
    failed = true;
    return 0;
  }
  // A zigzag varint; sets `failed` when the value does not fit an int.
  int zigzag() {
    const std::uint64_t raw = varint();
    const auto value = static_cast<std::int64_t>(raw >> 1) ^ -static_cast<std::int64_t>(raw & 1);
    if (value < INT32_MIN || value > INT32_MAX) {
      failed = true;
      return 0;
    }
    return static_cast<int>(value);
  }
  std::string bytes(std::uint64_t count) {
    if (count > remaining()) {
      failed = true;
      at_ = data_.size();
      return {};
    }
    std::string text = data_.substr(at_, static_cast<std::size_t>(count));
    at_ += static_cast<std::size_t>(count);
    return text;
  }
  std::size_t remaining() const { return data_.size() - at_; }
  bool failed = false;

private:
  const std::string &data_;
  std::size_t at_;
};

// Every iteration's predictions are of distinct subjects of the study, ascending, with
// probabilities.
std::string predictionsProblem(const ShardFile &shard, const IterationRange &range) {
  if (shard.predictions.size() != static_cast<std::size_t>(range.size()))
    return "holds the held-out predictions of " + std::to_string(shard.predictions.size()) +
           " iterations; its range has " + std::to_string(range.size());
  const auto subjects = static_cast<long long>(shard.fingerprint.images.size());
  for (std::size_t i = 0; i < shard.predictions.size(); ++i) {
    long long previous = -1;
    for (const HeldOutPrediction &prediction : shard.predictions[i]) {
      if (prediction.subject <= previous || prediction.subject >= subjects ||
          !(prediction.p >= 0.0 && prediction.p <= 1.0))
        return "held-out predictions of iteration " + std::to_string(range.first + i) +
               " are not of distinct subjects 0 to " + std::to_string(subjects - 1) +
               " in order with probabilities";
      previous = prediction.subject;
    }
  }
  return {};
}

// The shard's own consistency, shared by the writer (refuse to write) and the reader.
std::string shardContentProblem(const ShardFile &shard) {
  if (shard.method != kJackknife && shard.method != kBootstrap)
    return "unknown resampling method " + std::to_string(shard.method);
  if (!(shard.representativeShare > 0 && shard.representativeShare < 1))
    return "representativeShare " + std::to_string(shard.representativeShare) +
           " is not between 0 and 1";
  if (shard.iterations < 1)
    return "iteration count " + std::to_string(shard.iterations) + " is not positive";
  if (shard.shard.count < 1 || shard.shard.index < 0 || shard.shard.index >= shard.shard.count)
    return "shard " + std::to_string(shard.shard.index) + " of " +
           std::to_string(shard.shard.count) + " is not a shard";
  const IterationRange range = shardRange(shard.iterations, shard.shard);
  const auto count = static_cast<std::size_t>(range.size());
  if (shard.records.size() != count || shard.labels.size() != count)
    return "holds " + std::to_string(shard.records.size()) + " model records and " +
           std::to_string(shard.labels.size()) + " label fields; its range has " +
           std::to_string(count) + " iterations";
  for (std::size_t i = 0; i < count; ++i) {
    const int iteration = range.first + static_cast<int>(i);
    if (shard.records[i][0] != iteration)
      return "model record " + std::to_string(i) + " is of iteration " +
             std::to_string(shard.records[i][0]) + ", expected " + std::to_string(iteration);
    std::uint64_t total = 0;
    for (const LabelRun &run : shard.labels[i]) {
      if (run.length == 0 || run.length > shard.voxels - total)
        return "label field of iteration " + std::to_string(iteration) + " does not hold " +
               std::to_string(shard.voxels) + " voxels";
      total += run.length;
    }
    if (total != shard.voxels)
      return "label field of iteration " + std::to_string(iteration) + " holds " +
             std::to_string(total) + " voxels, expected " + std::to_string(shard.voxels);
  }
  const std::string predictions = predictionsProblem(shard, range);
  if (!predictions.empty())
    return predictions;
  if (shard.hasRunLog != (range.last == shard.iterations))
    return shard.hasRunLog ? "holds a run log but not the last iteration"
                           : "holds the last iteration but no run log";
  return {};
}

std::string encodePayload(const ShardFile &shard) {
  ByteWriter out;
  out.u64(shard.fingerprint.listHash);
  out.u32(static_cast<std::uint32_t>(shard.fingerprint.images.size()));
  for (const ImageFingerprint &image : shard.fingerprint.images) {
    out.u64(image.fileSize);
    out.u64(image.voxelHash);
  }
  for (const int value :
       {shard.method, shard.sizeArgument, shard.iterations, shard.shard.index, shard.shard.count})
    out.i32(value);
  out.u64(shard.voxels);
  out.real(shard.representativeShare);
  for (const ModelRecord &record : shard.records) {
    for (const int slot : record)
      out.i32(slot);
  }
  for (const LabelRuns &runs : shard.labels) {
    out.varint(runs.size());
    for (const LabelRun &run : runs) {
      out.zigzag(run.value);
      out.varint(run.length);
    }
  }
  for (const IterationPredictions &predictions : shard.predictions) {
    out.varint(predictions.size());
    for (const HeldOutPrediction &prediction : predictions) {
      out.varint(static_cast<std::uint64_t>(prediction.subject));
      out.real(prediction.p);
    }
  }
  out.fixed(shard.hasRunLog ? 1 : 0, 1);
  if (shard.hasRunLog) {
    out.varint(shard.runLog.size());
    out.bytes(shard.runLog);
  }
  return out.text();
}

// Decodes the payload of a file of `version`; the reader's caller checks the contents'
// consistency afterwards.
bool decodePayload(ByteReader &in, std::uint32_t version, ShardFile &shard) {
  shard.fingerprint.listHash = in.u64();
  const std::uint32_t images = in.u32();
  if (in.failed || images > in.remaining() / 16)
    return false;
  shard.fingerprint.images.resize(images);
  for (ImageFingerprint &image : shard.fingerprint.images) {
    image.fileSize = in.u64();
    image.voxelHash = in.u64();
  }
  shard.method = in.i32();
  shard.sizeArgument = in.i32();
  shard.iterations = in.i32();
  shard.shard.index = in.i32();
  shard.shard.count = in.i32();
  shard.voxels = in.u64();
  shard.representativeShare = version >= 3 ? in.real() : kDefaultRepresentativeShare;
  if (in.failed || shard.iterations < 1 || shard.shard.count < 1 || shard.shard.index < 0 ||
      shard.shard.index >= shard.shard.count)
    return false;
  const IterationRange range = shardRange(shard.iterations, shard.shard);
  const auto count = static_cast<std::size_t>(range.size());
  if (count > in.remaining() / (4 * kModelRecordSlots))
    return false;
  shard.records.resize(count);
  for (ModelRecord &record : shard.records) {
    for (int &slot : record)
      slot = in.i32();
  }
  // Every run takes at least two bytes, every field at least one.
  if (count > in.remaining())
    return false;
  shard.labels.resize(count);
  for (LabelRuns &runs : shard.labels) {
    const std::uint64_t runCount = in.varint();
    if (in.failed || runCount > in.remaining() / 2)
      return false;
    runs.resize(static_cast<std::size_t>(runCount));
    for (LabelRun &run : runs) {
      run.value = in.zigzag();
      run.length = in.varint();
    }
  }
  // Every prediction takes at least nine bytes, every iteration's list at least one.
  if (count > in.remaining())
    return false;
  shard.predictions.resize(count);
  for (IterationPredictions &predictions : shard.predictions) {
    const std::uint64_t predicted = in.varint();
    if (in.failed || predicted > in.remaining() / 9)
      return false;
    predictions.resize(static_cast<std::size_t>(predicted));
    for (HeldOutPrediction &prediction : predictions) {
      const std::uint64_t subject = in.varint();
      prediction.subject = subject > INT32_MAX ? -1 : static_cast<int>(subject);
      prediction.p = in.real();
    }
  }
  shard.hasRunLog = in.fixed(1) == 1;
  if (shard.hasRunLog)
    shard.runLog = in.bytes(in.varint());
  return !in.failed && in.remaining() == 0;
}

} // namespace

bool writeShardFile(const std::string &path, const ShardFile &shard, std::string &error) {
  const std::string problem = shardContentProblem(shard);
  if (!problem.empty()) {
    error = "shard file " + path + " not written: " + problem + "\n";
    return false;
  }
  const std::string payload = encodePayload(shard);
  ByteWriter head;
  head.bytes(std::string(kMagic, sizeof kMagic));
  head.u32(kVersion);
  head.u64(payload.size());
  head.u64(fnv1a64(payload.data(), payload.size()));
  const std::string temporary = path + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << head.text() << payload;
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      error = "cannot write the shard file " + temporary + "\n";
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno) + "\n";
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool readShardFile(const std::string &path, ShardFile &shard, std::string &error) {
  std::string data;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot open the shard file " + path + "\n";
      return false;
    }
    std::ostringstream whole;
    whole << in.rdbuf();
    data = whole.str();
  }
  const auto fail = [&](const std::string &why) {
    error = "shard file " + path + ": " + why + "\n";
    return false;
  };
  if (data.size() < kHeaderBytes || data.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0)
    return fail(data.size() < sizeof kMagic ? "truncated (too short for a shard file)"
                                            : "not a shard file");
  ByteReader head(data, sizeof kMagic);
  const std::uint32_t version = head.u32();
  const std::uint64_t length = head.u64();
  const std::uint64_t checksum = head.u64();
  if (version < kOldestVersion || version > kVersion)
    return fail("version " + std::to_string(version) + ", this program reads versions " +
                std::to_string(kOldestVersion) + " and " + std::to_string(kVersion) +
                "; run the shard again with this program");
  const std::size_t present = data.size() - kHeaderBytes;
  if (length > present)
    return fail("truncated (" + std::to_string(present) + " of " + std::to_string(length) +
                " payload bytes present)");
  if (length < present)
    return fail("corrupt (" + std::to_string(present - length) + " bytes after the payload)");
  if (fnv1a64(data.data() + kHeaderBytes, present) != checksum)
    return fail("corrupt (checksum mismatch)");
  ShardFile parsed;
  ByteReader payload(data, kHeaderBytes);
  if (!decodePayload(payload, version, parsed))
    return fail("corrupt (inconsistent lengths)");
  const std::string problem = shardContentProblem(parsed);
  if (!problem.empty())
    return fail("corrupt (" + problem + ")");
  shard = std::move(parsed);
  return true;
}
