// The progress line's text, and its drawing on a standard error captured in a file: redraws in
// place, erasing before other text, erasing at the end, and silence when it is not drawn.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.h"
#include "support/terminal.h"
#include "util/progress_line.h"

namespace {

using namespace std::chrono_literals;
using testsupport::countOf;
using testsupport::readFile;
using testsupport::ScopedTempDir;
using torva::ProgressLine;

const std::string kErase = "\r\033[K";

TEST(ClockText, MinutesAndSecondsThenHours) {
  EXPECT_EQ(torva::clockText(0), "0:00");
  EXPECT_EQ(torva::clockText(-3), "0:00");
  EXPECT_EQ(torva::clockText(59.99), "0:59");
  EXPECT_EQ(torva::clockText(60), "1:00");
  EXPECT_EQ(torva::clockText(3599), "59:59");
  EXPECT_EQ(torva::clockText(3600), "1:00:00");
  EXPECT_EQ(torva::clockText(3661.5), "1:01:01");
}

TEST(ProgressLineText, EstimateOnlyWhileSomeAreDoneAndSomeLeft) {
  EXPECT_EQ(torva::progressLineText("iteration", 0, 131, 0.4), "iteration 0/131  0:00 elapsed");
  // 48 s for 37 iterations: the other 94 take 48 * 94 / 37 = 121.9 s, shown as 2:02.
  EXPECT_EQ(torva::progressLineText("iteration", 37, 131, 48.0),
            "iteration 37/131  0:48 elapsed  about 2:02 left");
  EXPECT_EQ(torva::progressLineText("iteration", 30, 31, 0.2),
            "iteration 30/31  0:00 elapsed  about 0:01 left");
  EXPECT_EQ(torva::progressLineText("shard", 4, 4, 75), "shard 4/4  1:15 elapsed");
}

// Standard error into a file for the lifetime of the object.
class CapturedStandardError {
public:
  explicit CapturedStandardError(const std::string &path) : saved_(dup(2)) {
    std::fflush(stderr);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(file, 2);
    close(file);
  }
  ~CapturedStandardError() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }

private:
  int saved_;
};

TEST(ProgressLineDrawing, RedrawsInPlaceErasesBeforeOtherTextAndAtTheEnd) {
  ScopedTempDir dir;
  {
    CapturedStandardError capture("err.txt");
    ProgressLine line("unit", 3, true, 30ms);
    ASSERT_TRUE(line.drawn());
    line.advance();
    std::this_thread::sleep_for(120ms);
    torva::writeStandardError("message\n");
    std::this_thread::sleep_for(120ms);
    line.advance(2);
    std::this_thread::sleep_for(120ms);
    line.finish();
    line.advance(); // a finished line draws nothing more
    std::this_thread::sleep_for(60ms);
  }
  const std::string bytes = readFile("err.txt");
  // The first draw starts the row; every later one erases the row first.
  EXPECT_EQ(bytes.rfind("unit 0/3  0:00 elapsed", 0), 0u) << bytes;
  EXPECT_GE(countOf(bytes, kErase + "unit 1/3  0:00 elapsed  about 0:01 left"), 1) << bytes;
  // The message stands on a row of its own, and the line comes back below it.
  EXPECT_NE(bytes.find(kErase + "message\nunit 1/3"), std::string::npos) << bytes;
  EXPECT_GE(countOf(bytes, kErase + "unit 3/3  0:00 elapsed"), 1) << bytes;
  // The end erases the line and nothing follows.
  EXPECT_EQ(bytes.substr(bytes.size() - kErase.size()), kErase);
  EXPECT_EQ(bytes.find("unit 4/3"), std::string::npos);
  EXPECT_EQ(testsupport::withoutProgressLine(bytes), "message\n");
  EXPECT_GE(testsupport::progressDrawCount(bytes), 4);
}

TEST(ProgressLineDrawing, TextWithoutNewlineKeepsItsRow) {
  ScopedTempDir dir;
  {
    CapturedStandardError capture("err.txt");
    ProgressLine line("unit", 2, true, 30ms);
    torva::writeStandardError("half a message");
    std::this_thread::sleep_for(80ms);
    line.finish();
    torva::writeStandardError("\n"); // leaves the row start for the next test
  }
  const std::string bytes = readFile("err.txt");
  EXPECT_NE(bytes.find(kErase + "half a message\nunit 0/2"), std::string::npos) << bytes;
}

TEST(ProgressLineDrawing, NotDrawnWritesNothingAndOtherTextPassesUnchanged) {
  ScopedTempDir dir;
  {
    CapturedStandardError capture("err.txt");
    ProgressLine line("unit", 5, false, 10ms);
    EXPECT_FALSE(line.drawn());
    line.advance(3);
    EXPECT_EQ(line.done(), 3);
    torva::writeStandardError("error: something\n");
    std::this_thread::sleep_for(40ms);
  }
  EXPECT_EQ(readFile("err.txt"), "error: something\n");
}

TEST(ProgressLineDrawing, OneLineAtATime) {
  ScopedTempDir dir;
  {
    CapturedStandardError capture("err.txt");
    ProgressLine first("first", 2, true, 1000ms);
    ProgressLine second("second", 2, true, 10ms);
    EXPECT_TRUE(first.drawn());
    EXPECT_FALSE(second.drawn());
    std::this_thread::sleep_for(40ms);
    first.finish();
    // Once the first has ended, a new line may be drawn.
    ProgressLine third("third", 1, true, 1000ms);
    EXPECT_TRUE(third.drawn());
  }
  EXPECT_EQ(readFile("err.txt"),
            "first 0/2  0:00 elapsed" + kErase + "third 0/1  0:00 elapsed" + kErase);
}

// A process ending does not unwind the stack, so the endings stop the line themselves.
TEST(ProgressLineDrawing, EndingTheProcessErasesAndStopsTheLine) {
  ScopedTempDir dir;
  {
    CapturedStandardError capture("err.txt");
    ProgressLine line("unit", 2, true, 20ms);
    torva::endProgressLine();
    std::this_thread::sleep_for(60ms);
    line.advance();
  }
  EXPECT_EQ(readFile("err.txt"), "unit 0/2  0:00 elapsed" + kErase);
}

// Iterations finish on worker threads while others write messages: the count is exact and
// every message comes out whole, never torn by a redraw.
TEST(ProgressLineDrawing, WorkerThreadsCountAndWriteSafely) {
  ScopedTempDir dir;
  long done = 0;
  {
    CapturedStandardError capture("err.txt");
    ProgressLine line("unit", 4000, true, 1ms);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
      workers.emplace_back([&line, t] {
        for (int i = 0; i < 1000; ++i) {
          line.advance();
          if (i % 250 == 0)
            torva::writeStandardError("worker " + std::to_string(t) + " at " + std::to_string(i) +
                                      "\n");
        }
      });
    for (std::thread &w : workers)
      w.join();
    done = line.done();
  }
  EXPECT_EQ(done, 4000);
  const std::string bytes = readFile("err.txt");
  const std::string rest = testsupport::withoutProgressLine(bytes);
  std::string expected;
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 1000; i += 250) {
      const std::string message = "worker " + std::to_string(t) + " at " + std::to_string(i) + "\n";
      EXPECT_EQ(countOf(rest, message), 1) << message;
      expected += message;
    }
  EXPECT_EQ(rest.size(), expected.size()) << rest;
}

} // namespace
