#pragma once
// Where the analysis writes its progress text and its run log. A sequential run writes to
// standard output and to "log.torva" directly; an iteration that runs on a worker thread writes
// into buffers of its own, which the driver then emits in iteration order, so that the output
// of a run does not depend on how many threads it used.
#include <cstdarg>
#include <ostream>
#include <string>

namespace torva {

// Progress text of the calling thread: its iteration's buffer, or standard output.
std::ostream &progress();

// printf-style progress text.
void progressf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Run log of the calling thread: its iteration's buffer, or nullptr when the log goes to the
// file "log.torva" itself.
std::string *runLogBuffer();

constexpr const char *kRunLogFileName = "log.torva";

// Where the run log is written when no iteration buffer takes it: "log.torva" unless the driver
// stages it elsewhere until the run has succeeded.
void setRunLogPath(const std::string &path);

// The run log "log.torva" of the calling thread: started afresh with `text`, or `text`
// appended. Best effort: a log file that cannot be opened drops its lines silently.
void startRunLogText(const std::string &text);
void appendRunLogText(const std::string &text);

// Redirects the calling thread's progress text and run log into `text` and `log`; nullptr
// restores standard output and the log file.
void redirectThreadOutput(std::ostream *text, std::string *log);

} // namespace torva
