#include "data/decoded_study.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "util/hash.h"
#include "util/stop_signal.h"
#include "util/thread_team.h"

namespace {

// Decodes subjects handed out in list order until none is left or an earlier subject failed.
class Decoder {
public:
  Decoder(DecodedStudy &study, const std::string &listPath, bool hashVoxels)
      : study_(study), listPath_(listPath), hashVoxels_(hashVoxels),
        subjectCount_(static_cast<long>(study.list.subjects.size())), failedAt_(subjectCount_),
        failures_(static_cast<std::size_t>(subjectCount_)) {}

  void work() {
    const long voxels = study_.list.nodeCount - 1;
    std::vector<unsigned char> row(static_cast<std::size_t>(study_.list.nodeCount));
    for (long s = next_++; s < subjectCount_ && s < failedAt_.load() && !torva::stopRequested();
         s = next_++) {
      ReadFailure problem =
          loadSubjectRow(study_.list.subjects[s], voxels, row.data(), listPath_, &extents_);
      if (problem) {
        failures_[s] = std::move(problem);
        long seen = failedAt_.load();
        while (s < seen && !failedAt_.compare_exchange_weak(seen, s)) {
        }
        continue;
      }
      if (hashVoxels_)
        study_.voxelHashes[s] = fnv1a64(row.data(), static_cast<std::size_t>(voxels));
      // Subjects share the words of their nodes, so packing is one at a time.
      const std::lock_guard<std::mutex> hold(packing_);
      study_.subjects.setCase(s, row.data());
    }
  }

  ReadFailure firstFailure() const {
    const long at = failedAt_.load();
    return at < subjectCount_ ? failures_[at] : ReadFailure{};
  }

private:
  DecodedStudy &study_;
  const std::string &listPath_;
  const bool hashVoxels_;
  const VolumeExtents extents_{study_.list.x, study_.list.y, study_.list.z};
  const long subjectCount_;
  std::atomic<long> next_{0};
  std::atomic<long> failedAt_;
  std::vector<ReadFailure> failures_;
  std::mutex packing_;
};

} // namespace

ReadFailure decodeStudy(const std::string &listPath, int threads, DecodedStudy &study,
                        bool hashVoxels) {
  study = DecodedStudy{};
  if (ReadFailure problem = parseFileList(listPath, study.list, "File not exist.\n", false))
    return problem;
  const long subjects = static_cast<long>(study.list.subjects.size());
  study.subjects.reset(study.list.nodeCount, subjects);
  if (hashVoxels)
    study.voxelHashes.assign(static_cast<std::size_t>(subjects), 0);
  Decoder decoder(study, listPath, hashVoxels);
  const int workers = static_cast<int>(std::max(1L, std::min<long>(threads, subjects)));
  torva::fanOut(workers, [&decoder](int) { decoder.work(); });
  torva::endIfStopRequested(); // the decoders gave up; no thread is left to end with the process
  return decoder.firstFailure();
}
