#include "util/progress_line.h"

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace torva {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kEraseRow = "\r\033[K"; // to the row's start, erase to its end
constexpr std::chrono::milliseconds kRedrawInterval{1000};

// The terminal row is shared by the line's redraws, its erasing and every other text for
// standard error; all of them hold this mutex while they write.
std::mutex rowMutex;
ProgressLine::Shown *onScreen = nullptr; // the line that owns the row
bool visible = false;                    // its text stands on the row now
bool atRowStart = true;                  // the last byte written to standard error was '\n'

void writeRaw(const std::string &text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

bool sameFile(int a, int b) {
  struct stat first;
  struct stat second;
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

} // namespace

struct ProgressLine::Shown {
  Shown(std::string unit, long total, const std::atomic<long> &done,
        std::chrono::milliseconds interval)
      : unit(std::move(unit)), total(total), done(done), interval(interval) {}

  // With rowMutex held.
  void draw() {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const char *lead = visible ? kEraseRow : (atRowStart ? "" : "\n");
    writeRaw(lead + progressLineText(unit, done.load(), total, elapsed));
    visible = true;
  }

  // Redraws until stopped; the first drawing is the constructor's.
  void tick() {
    std::unique_lock<std::mutex> hold(rowMutex);
    Clock::time_point next = start + interval;
    while (!finished) {
      wake.wait_until(hold, next, [this] { return finished; });
      if (finished)
        break;
      next += interval;
      if (onScreen == this)
        draw();
    }
  }

  // Erases the line and ends the redraws. True for the one call that did it, which must then
  // join the ticker.
  bool stop() {
    {
      const std::lock_guard<std::mutex> hold(rowMutex);
      if (finished)
        return false;
      finished = true;
      if (onScreen == this) {
        if (visible)
          writeRaw(kEraseRow);
        visible = false;
        atRowStart = true;
        onScreen = nullptr;
      }
    }
    wake.notify_all();
    return true;
  }

  void stopAndJoin() {
    if (stop() && ticker.joinable() && ticker.get_id() != std::this_thread::get_id())
      ticker.join();
  }

  const std::string unit;
  const long total;
  const std::atomic<long> &done;
  const std::chrono::milliseconds interval;
  const Clock::time_point start = Clock::now();
  bool finished = false; // under rowMutex
  std::condition_variable wake;
  std::thread ticker;
};

ProgressLine::ProgressLine(std::string unit, long total)
    : ProgressLine(std::move(unit), total, progressLineWanted(), kRedrawInterval) {}

ProgressLine::ProgressLine(std::string unit, long total, bool draw,
                           std::chrono::milliseconds interval) {
  if (!draw)
    return;
  const std::lock_guard<std::mutex> hold(rowMutex);
  if (onScreen != nullptr)
    return;
  shown_ = std::make_unique<Shown>(std::move(unit), total, done_, interval);
  onScreen = shown_.get();
  shown_->draw();
  Shown *shown = shown_.get();
  shown_->ticker = std::thread([shown] { shown->tick(); });
}

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::advance(long units) { done_ += units; }

void ProgressLine::finish() {
  if (shown_ != nullptr)
    shown_->stopAndJoin();
}

bool progressLineWanted() {
  const char *setting = std::getenv("TORVA_PROGRESS");
  if (setting != nullptr && std::strcmp(setting, "0") == 0)
    return false;
  if (isatty(STDERR_FILENO) != 1)
    return false;
  return !(isatty(STDOUT_FILENO) == 1 && sameFile(STDOUT_FILENO, STDERR_FILENO));
}

std::string clockText(double seconds) {
  const long whole = seconds > 0 ? static_cast<long>(std::floor(seconds)) : 0;
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

// The estimate is rounded up, so that it does not promise "0:00 left" while work remains.
std::string progressLineText(const std::string &unit, long done, long total,
                             double elapsedSeconds) {
  std::string text = unit + " " + std::to_string(done) + "/" + std::to_string(total) + "  " +
                     clockText(elapsedSeconds) + " elapsed";
  if (done > 0 && done < total)
    text += "  about " +
            clockText(std::ceil(elapsedSeconds * static_cast<double>(total - done) /
                                static_cast<double>(done))) +
            " left";
  return text;
}

void writeStandardError(const std::string &text) {
  // As std::cerr, which is tied to std::cout: earlier progress text comes out first when both
  // streams go to one file.
  std::cout.flush();
  const std::lock_guard<std::mutex> hold(rowMutex);
  if (onScreen != nullptr && visible) {
    writeRaw(kEraseRow);
    visible = false;
    atRowStart = true;
  }
  writeRaw(text);
  if (!text.empty())
    atRowStart = text.back() == '\n';
}

void endProgressLine() {
  ProgressLine::Shown *shown = nullptr;
  {
    const std::lock_guard<std::mutex> hold(rowMutex);
    shown = onScreen;
  }
  if (shown != nullptr)
    shown->stopAndJoin();
}

} // namespace torva
