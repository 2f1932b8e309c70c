#include "driver/shard.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "data/decoded_study.h"
#include "data/study_reader.h"
#include "driver/resampling.h"
#include "util/whole_number.h"

namespace {

// --- TORVA_SHARD ---------------------------------------------------------------------------

// A whole decimal number of at most 9 digits (so it fits an int), nothing else.
bool parseCount(const std::string &text, int &value) {
  unsigned long long parsed = 0;
  if (text.size() > 9 || parseDigits(text, INT_MAX, parsed) != WholeNumber::Ok)
    return false;
  value = static_cast<int>(parsed);
  return true;
}

} // namespace

bool parseShardPosition(const std::string &text, ShardPosition &position, std::string &error) {
  const std::string prefix = std::string(kShardVariable) + "=\"" + text + "\": ";
  const auto slash = text.find('/');
  ShardPosition parsed;
  if (slash == std::string::npos || !parseCount(text.substr(0, slash), parsed.index) ||
      !parseCount(text.substr(slash + 1), parsed.count)) {
    error = prefix + "expected K/N, two whole numbers such as 0/4\n";
    return false;
  }
  if (parsed.count < 1 || parsed.index >= parsed.count) {
    error = prefix + "the shard K must be at least 0 and below the shard count N\n";
    return false;
  }
  position = parsed;
  return true;
}

// --- Ranges and draws ----------------------------------------------------------------------

IterationRange shardRange(int iterations, const ShardPosition &position) {
  const long long total = iterations;
  IterationRange range;
  range.first = static_cast<int>(position.index * total / position.count);
  range.last = static_cast<int>((position.index + 1LL) * total / position.count);
  return range;
}

std::vector<std::vector<int>> keepShardDraws(std::vector<std::vector<int>> draws,
                                             const IterationRange &range) {
  draws.resize(static_cast<std::size_t>(range.last));
  draws.erase(draws.begin(), draws.begin() + range.first);
  return draws;
}

std::vector<std::vector<int>> drawShardSubjects(int method, int subjects,
                                                const IterationRange &range) {
  std::vector<std::vector<int>> draws(static_cast<std::size_t>(range.last));
  for (int P = 0; P < range.last; ++P)
    chooseSubjects(draws[P], method, subjects, P);
  return keepShardDraws(std::move(draws), range);
}

// --- Fingerprint ---------------------------------------------------------------------------

bool fileSizeOf(const std::string &path, std::uint64_t &size) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool hashFileBytes(const std::string &path, std::uint64_t &hash) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  hash = kFnv1aStart;
  char buffer[1 << 16];
  while (in) {
    in.read(buffer, sizeof buffer);
    hash = fnv1a64(buffer, static_cast<std::size_t>(in.gcount()), hash);
  }
  return in.eof();
}

// The .img file holds the voxels of an Analyze pair, so its size is the one that matters.
std::string voxelFileOf(const std::string &imagePath) {
  const auto dot = imagePath.rfind('.');
  if (dot != std::string::npos && imagePath.substr(dot) == ".hdr")
    return imagePath.substr(0, dot) + ".img";
  return imagePath;
}

bool fingerprintOfDecoded(const std::string &listPath, const DecodedStudy &study,
                          StudyFingerprint &fingerprint, std::string &error) {
  StudyFingerprint result;
  if (!hashFileBytes(listPath, result.listHash)) {
    error = "cannot read file list " + listPath + "\n";
    return false;
  }
  const std::vector<SubjectEntry> &subjects = study.list.subjects;
  if (study.voxelHashes.size() != subjects.size()) {
    error = "the study of " + listPath + " was decoded without its voxel hashes\n";
    return false;
  }
  for (std::size_t s = 0; s < subjects.size(); ++s) {
    ImageFingerprint image;
    if (!fileSizeOf(voxelFileOf(subjects[s].path), image.fileSize)) {
      error =
          "cannot read image " + voxelFileOf(subjects[s].path) + " (listed in " + listPath + ")\n";
      return false;
    }
    image.voxelHash = study.voxelHashes[s];
    result.images.push_back(image);
  }
  fingerprint = std::move(result);
  return true;
}

bool fingerprintStudy(const std::string &listPath, FileList &list, StudyFingerprint &fingerprint,
                      std::string &error) {
  if (ReadFailure failure =
          parseFileList(listPath, list, "cannot open file list " + listPath + "\n", false)) {
    error = failure.message;
    return false;
  }
  StudyFingerprint result;
  if (!hashFileBytes(listPath, result.listHash)) {
    error = "cannot read file list " + listPath + "\n";
    return false;
  }
  const long voxels = list.nodeCount - 1;
  std::vector<unsigned char> row(static_cast<std::size_t>(voxels) + 1);
  for (const SubjectEntry &subject : list.subjects) {
    ImageFingerprint image;
    if (!fileSizeOf(voxelFileOf(subject.path), image.fileSize)) {
      error = "cannot read image " + voxelFileOf(subject.path) + " (listed in " + listPath + ")\n";
      return false;
    }
    if (ReadFailure failure = loadSubjectRow(subject, voxels, row.data(), listPath)) {
      error = failure.message;
      return false;
    }
    image.voxelHash = fnv1a64(row.data(), static_cast<std::size_t>(voxels));
    result.images.push_back(image);
  }
  fingerprint = std::move(result);
  return true;
}

// --- Label runs ----------------------------------------------------------------------------

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

// --- The merge's check of the shard set ----------------------------------------------------

namespace {

std::string shardName(const ShardFile &file) {
  return "shard " + std::to_string(file.shard.index) + " of " + std::to_string(file.shard.count);
}

// Differences of one readable shard from the merge's own run, or an empty string.
std::string runMismatch(const FoundShard &found, const MergeExpectation &expected) {
  const ShardFile &file = found.file;
  const std::string where = "shard folder " + found.folder + " holds a shard of ";
  if (!(file.fingerprint == expected.fingerprint))
    return where + "another study (the file list or an image differs)\n";
  if (file.method != expected.method)
    return where + "method " + std::to_string(file.method) + ", this merge is of method " +
           std::to_string(expected.method) + "\n";
  if (file.sizeArgument != expected.sizeArgument || file.iterations != expected.iterations)
    return where + "size " + std::to_string(file.sizeArgument) + " (" +
           std::to_string(file.iterations) + " iterations), this merge is of size " +
           std::to_string(expected.sizeArgument) + " (" + std::to_string(expected.iterations) +
           " iterations)\n";
  if (file.voxels != expected.voxels)
    return where + "label fields of " + std::to_string(file.voxels) + " voxels, the study has " +
           std::to_string(expected.voxels) + "\n";
  if (file.representativeShare != expected.representativeShare)
    return where + "a run with " + kRepresentativeShareLabel + " " +
           shareText(file.representativeShare) + ", this merge's " + kConfigurationFile +
           " gives " + shareText(expected.representativeShare) +
           "; run every shard and the merge with the same settings\n";
  return {};
}

// Why the shard of `found` did not finish, as the folder shows it.
std::string unfinishedReason(const FoundShard &found) {
  if (found.running)
    return "a run is still writing it (" + found.folder + "/" + found.runFolders.front() +
           " is in use); wait for it to end, then merge\n";
  if (!found.runFolders.empty())
    return "its run was stopped before it was done (it left " + found.folder + "/" +
           found.runFolders.front() + "); run that shard again\n";
  return "there is no " + std::string(kShardFile) +
         " in it (the shard never ran there, or was stopped before it began); run that shard\n";
}

// The shard the only unfinished folder was meant to hold, when the finished shards tell it: they
// agree on the shard count and leave exactly one shard out. Index -1 when they do not, or when no
// shard finished (the folders given need not be all the shards).
ShardPosition unfinishedPosition(const std::vector<FoundShard> &shards) {
  int count = 0;
  std::vector<bool> held;
  for (const FoundShard &found : shards) {
    if (!found.readable || !found.finished())
      continue;
    if (count == 0) {
      count = found.file.shard.count;
      held.assign(static_cast<std::size_t>(count), false);
    }
    if (found.file.shard.count != count)
      return ShardPosition{-1, count};
    held[static_cast<std::size_t>(found.file.shard.index)] = true;
  }
  if (count == 0)
    return ShardPosition{-1, 0};
  const auto missing = std::count(held.begin(), held.end(), false);
  const auto index = std::find(held.begin(), held.end(), false) - held.begin();
  return ShardPosition{missing == 1 ? static_cast<int>(index) : -1, count};
}

// One line per folder whose shard did not finish, or "" when every shard finished.
std::string unfinishedShards(const std::vector<FoundShard> &shards) {
  const auto unfinished = std::count_if(shards.begin(), shards.end(),
                                        [](const FoundShard &found) { return !found.finished(); });
  const ShardPosition position =
      unfinished == 1 ? unfinishedPosition(shards) : ShardPosition{-1, 0};
  std::string lines;
  for (const FoundShard &found : shards) {
    if (found.finished())
      continue;
    lines += (position.index >= 0 ? "shard " + std::to_string(position.index) + " of " +
                                        std::to_string(position.count) + " (" + found.folder + ")"
                                  : "shard folder " + found.folder) +
             " did not finish: " + unfinishedReason(found);
  }
  return lines;
}

} // namespace

std::string checkShardSet(const std::vector<FoundShard> &shards, const MergeExpectation &expected) {
  if (shards.empty())
    return "no shard folders given\n";
  if (std::string unfinished = unfinishedShards(shards); !unfinished.empty())
    return unfinished;
  for (const FoundShard &found : shards) {
    if (!found.readable)
      return "shard folder " + found.folder + ": " + found.readError;
    const std::string mismatch = runMismatch(found, expected);
    if (!mismatch.empty())
      return mismatch;
  }
  const FoundShard &first = shards.front();
  const int count = first.file.shard.count;
  std::vector<const FoundShard *> byIndex(static_cast<std::size_t>(count), nullptr);
  for (const FoundShard &found : shards) {
    if (found.file.shard.count != count)
      return "shard folder " + found.folder + " holds " + shardName(found.file) +
             ", but shard folder " + first.folder + " holds " + shardName(first.file) +
             ": the shards are of different splits\n";
    const FoundShard *&slot = byIndex[static_cast<std::size_t>(found.file.shard.index)];
    if (slot != nullptr)
      return "shard folder " + found.folder + " is extra: it holds " + shardName(found.file) +
             ", as does shard folder " + slot->folder + "\n";
    slot = &found;
  }
  for (int k = 0; k < count; ++k) {
    if (byIndex[static_cast<std::size_t>(k)] == nullptr)
      return "shard " + std::to_string(k) + " of " + std::to_string(count) +
             " is missing: no shard folder given holds it (shard folder " + first.folder +
             " holds " + shardName(first.file) + ")\n";
  }
  return {};
}
