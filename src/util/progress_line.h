#pragma once
// A one-line progress display on standard error, for a user who watches the terminal while the
// progress text on standard output goes to a file:
//
//     iteration 37/131  0:48 elapsed  about 1:20 left
//
// The line is drawn only when standard error is a terminal that standard output is not (on a
// shared terminal the progress text scrolls past and would tear the line apart) and the
// environment variable TORVA_PROGRESS is not "0". Otherwise nothing is written at all, so the
// bytes of every stream stay those of a run without it. Standard output is never written.
//
// While shown, the line is redrawn in place about once a second (carriage return, erase to the
// end of the row, the new text); it is erased before any other text goes to standard error and
// when it ends.
//
// Use, for a loop of `total` permutations:
//
//     torva::ProgressLine line("permutation", total); // draws "permutation 0/<total>"
//     line.advance();                                  // per permutation done, on any thread
//     line.finish();                                   // erased; the destructor does it too
//
// One line is shown at a time: a line made while another is shown stays silent and only counts.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace torva {

class ProgressLine {
public:
  // Counts `total` units named `unit`, drawn when progressLineWanted().
  ProgressLine(std::string unit, long total);
  // Drawn when `draw` is true whatever standard error is, redrawn every `interval`.
  ProgressLine(std::string unit, long total, bool draw, std::chrono::milliseconds interval);
  ~ProgressLine();
  ProgressLine(const ProgressLine &) = delete;
  ProgressLine &operator=(const ProgressLine &) = delete;

  // Counts `units` more done. Thread-safe and cheap: the count is shown at the next redraw.
  void advance(long units = 1);
  // Erases the line and stops drawing it; later calls and advance() change nothing on screen.
  void finish();
  // Whether this line draws (its start found a terminal, or the tests asked for it).
  bool drawn() const { return shown_ != nullptr; }
  long done() const { return done_.load(); }

  struct Shown; // the drawing state of a line on screen

private:
  std::atomic<long> done_{0};
  std::unique_ptr<Shown> shown_;
};

// Whether a line would be drawn now: standard error is a terminal, standard output is not that
// same terminal, and TORVA_PROGRESS is not "0".
bool progressLineWanted();

// The text of the line, e.g. "iteration 37/131  0:48 elapsed  about 1:20 left". The estimate
// of the time left, elapsed * (total - done) / done rounded up to a second, is left out before the
// first unit is done and once all are.
std::string progressLineText(const std::string &unit, long done, long total, double elapsedSeconds);

// Whole seconds as "m:ss", or "h:mm:ss" from one hour.
std::string clockText(double seconds);

// Writes `text` to standard error; a line on screen is erased first and drawn again at its next
// redraw, on a row of its own. Everything that may write to standard error while a line is
// shown writes through this.
void writeStandardError(const std::string &text);

// Erases the line on screen, if any, and stops it for good: the process endings call this, since
// an exit does not run the destructor of a line that lives on the stack.
void endProgressLine();

} // namespace torva
