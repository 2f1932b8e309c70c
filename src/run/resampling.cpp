#include "run/resampling.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "bn/bn.h"
#include "data/decoded_study.h"
#include "data/study_view.h"
#include "evidence/heldout_prediction.h"
#include "roi/bml.h"
#include "roi/overlap_note.h"
#include "run/resampling_method.h"
#include "run/startup.h"
#include "util/fatal.h"
#include "util/helper_pool.h"
#include "util/progress.h"
#include "util/progress_line.h"
#include "util/stop_signal.h"
#include "util/thread_team.h"

namespace {

using Clock = std::chrono::steady_clock;

// What one iteration leaves for the in-order writer.
struct IterationOutput {
  std::ostringstream text;
  std::string log; // empty when the region learner did not start its log
  ModelRecord record{};
  IterationPredictions predictions;
  RoundOneOverlap overlap;
  LabelRuns labels;
  bool failed = false;
  torva::DeferredExit exit;
  bool done = false;
};

// Working memory of one thread, reused from iteration to iteration.
struct IterationScratch {
  std::vector<int> labels;
  std::vector<double> voxelValues;
  std::vector<int> representatives;
  std::vector<int> heldOut;
  BN bn;
};

void printSubjectLines(std::ostream &out, const DecodedStudy &study,
                       const std::vector<int> &chosen) {
  char line[1024];
  for (const int position : chosen) {
    const SubjectEntry &subject = study.list.subjects[position];
    const int length = std::snprintf(line, sizeof line, "subject %4d, file=%s, fv=%d\n",
                                     static_cast<int>(subject.id), subject.path.c_str(),
                                     static_cast<int>(subject.fv));
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line)
      out.write(line, length);
    else
      torva::progressf("subject %4d, file=%s, fv=%d\n", static_cast<int>(subject.id),
                       subject.path.c_str(), static_cast<int>(subject.fv));
  }
}

// The iteration's network predicts the subjects it did not draw; its outcome table is the last
// node's, after the representatives.
void predictUndrawn(int P, const DecodedStudy &study, const std::vector<int> &chosen,
                    IterationScratch &scratch, IterationPredictions &predictions) {
  heldOutSubjects(chosen, static_cast<int>(study.list.subjects.size()), scratch.heldOut);
  const std::vector<double> &table =
      scratch.bn.getCPD(static_cast<int>(scratch.representatives.size()));
  if (!predictHeldOut(study.subjects, scratch.representatives, table, scratch.heldOut, predictions))
    torva::exitWithMessage(
        torva::kExitInputError, stderr,
        "iteration " + std::to_string(P) + ": the outcome table of its network holds " +
            std::to_string(table.size()) + " values, which do not fit its " +
            std::to_string(scratch.representatives.size()) + " representative voxels\n");
}

// One iteration, writing its progress through torva::progress().
ModelRecord runIteration(int P, const DecodedStudy &study, const std::vector<int> &chosen,
                         IterationScratch &scratch, PhaseTimes &times, RoundOneOverlap &overlap,
                         LabelRuns &labels, IterationPredictions &predictions) {
  torva::endIfStopRequested();
  std::ostream &out = torva::progress();
  out << "resampling " << P << "\nRead Dataset\n";
  printSubjectLines(out, study, chosen);
  const StudyView view(study.subjects, chosen, study.list.x, study.list.y, study.list.z);
  scratch.labels.clear();
  scratch.voxelValues.clear();
  scratch.representatives.clear();
  BmlTimes bmlTimes;
  bml(view, scratch.labels, scratch.voxelValues, scratch.bn, scratch.representatives, &bmlTimes,
      &overlap);
  times.screeningAndScan += bmlTimes.screening + bmlTimes.scan;
  times.segmentation += bmlTimes.segmentation;
  predictUndrawn(P, study, chosen, scratch, predictions);
  labels = encodeLabelRuns(scratch.labels);
  out << "*****************\n";
  return makeModelRecord(P, scratch.representatives);
}

void runSequentially(ResamplingResult &result, const DecodedStudy &study,
                     const std::vector<std::vector<int>> &chosen, int first, int last,
                     torva::ProgressLine *line) {
  IterationScratch scratch;
  RoundOneOverlap overlap;
  for (int P = first; P < last; ++P) {
    result.predictions.emplace_back();
    result.labels.emplace_back();
    result.records.push_back(runIteration(P, study, chosen[P], scratch, result.times, overlap,
                                          result.labels.back(), result.predictions.back()));
    result.shortfall.add(overlap);
    if (line != nullptr)
      line->advance();
  }
}

// Workers take iterations in order from a shared counter; the calling thread writes each
// iteration's output as soon as it and every earlier one are done. A worker that finds no
// iteration left to start lends itself to the iterations still running (util/helper_pool.h)
// until the run ends.
class ParallelRun {
public:
  ParallelRun(const DecodedStudy &study, const std::vector<std::vector<int>> &chosen, int first,
              int last, torva::ProgressLine *line)
      : study_(study), chosen_(chosen), line_(line), first_(first), last_(last), next_(first),
        outputs_(static_cast<std::size_t>(last - first)) {}

  void run(ResamplingResult &result, int threads) {
    std::vector<PhaseTimes> times(static_cast<std::size_t>(threads));
    torva::ThreadTeam team(
        threads, [this, &times](int t) { work(times[t]); }, [this] { endWork(); });
    int failedAt = -1;
    torva::DeferredExit failure;
    for (int P = first_; P < last_ && failedAt < 0; ++P) {
      IterationOutput &output = waitFor(P);
      const std::string text = output.text.str();
      std::fwrite(text.data(), 1, text.size(), stdout);
      if (!output.log.empty())
        torva::startRunLogText(output.log);
      if (output.failed) {
        failedAt = P;
        failure = output.exit;
      } else {
        result.records.push_back(output.record);
        result.predictions.push_back(std::move(output.predictions));
        result.labels.push_back(std::move(output.labels));
        result.shortfall.add(output.overlap);
      }
      output = IterationOutput{};
    }
    endWork();
    team.join();
    for (const PhaseTimes &t : times) {
      result.times.screeningAndScan += t.screeningAndScan;
      result.times.segmentation += t.segmentation;
    }
    if (failedAt >= 0)
      torva::performExit(failure); // where a sequential run would have stopped
  }

private:
  void work(PhaseTimes &times) {
    IterationScratch scratch;
    torva::deferThreadExits(true);
    torva::setThreadHelperPool(&helpers_);
    for (int P = next_++; P < last_ && !stop_; P = next_++) {
      IterationOutput &output = outputs_[P - first_];
      torva::redirectThreadOutput(&output.text, &output.log);
      try {
        output.record = runIteration(P, study_, chosen_[P], scratch, times, output.overlap,
                                     output.labels, output.predictions);
      } catch (const torva::DeferredExit &exit) {
        fail(output, exit);
      } catch (const std::bad_alloc &) {
        fail(output, torva::DeferredExit{torva::kExitInputError, false,
                                         outOfMemoryMessage("allocation failed")});
      } catch (const std::length_error &) {
        fail(output, torva::DeferredExit{torva::kExitInputError, false,
                                         outOfMemoryMessage("size too large")});
      }
      torva::redirectThreadOutput(nullptr, nullptr);
      {
        const std::lock_guard<std::mutex> hold(mutex_);
        output.done = true;
      }
      done_.notify_all();
      if (line_ != nullptr)
        line_->advance();
    }
    if (!stop_)
      helpers_.serve();
    torva::setThreadHelperPool(nullptr);
  }

  void fail(IterationOutput &output, const torva::DeferredExit &exit) {
    output.failed = true;
    output.exit = exit;
    stop_ = true; // iterations after a failure would only be discarded
  }

  // Workers start no further iteration and leave the helper pool.
  void endWork() {
    stop_ = true;
    helpers_.close();
  }

  IterationOutput &waitFor(int P) {
    IterationOutput &output = outputs_[P - first_];
    std::unique_lock<std::mutex> hold(mutex_);
    done_.wait(hold, [&output] { return output.done; });
    return output;
  }

  const DecodedStudy &study_;
  const std::vector<std::vector<int>> &chosen_;
  torva::ProgressLine *const line_;
  const int first_;
  const int last_;
  std::atomic<int> next_;
  std::atomic<bool> stop_{false};
  std::vector<IterationOutput> outputs_;
  std::mutex mutex_;
  std::condition_variable done_;
  torva::HelperPool helpers_;
};

} // namespace

void NormTestShortfall::add(const RoundOneOverlap &iteration) {
  if (!iteration.measured || iteration.largestInCases > iteration.normBound) {
    everyIteration = false;
    return;
  }
  largestOverlap = std::max(largestOverlap, iteration.largestInSubjects);
  cases = std::max(cases, iteration.cases);
  share = iteration.share;
}

std::string noRegionNoteOfRun(const ResamplingResult &result, long subjects) {
  if (result.records.empty() || !result.shortfall.everyIteration)
    return std::string();
  return noRegionNote(result.shortfall.largestOverlap, subjects, result.shortfall.cases,
                      result.shortfall.share);
}

void runResampling(ResamplingResult &result, const DecodedStudy &study, int method, int first,
                   int last, int threads, torva::ProgressLine *line) {
  result = ResamplingResult{};
  result.voxels = study.list.nodeCount - 1;
  std::vector<std::vector<int>> chosen;
  chooseAllSubjects(chosen, method, static_cast<int>(study.list.subjects.size()), first, last);
  // Threads beyond the iterations help the iterations that run.
  if (threads <= 1 || last - first < 1) {
    runSequentially(result, study, chosen, first, last, line);
    return;
  }
  ParallelRun run(study, chosen, first, last, line);
  run.run(result, threads);
}
