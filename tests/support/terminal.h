#pragma once
// Runs a shell command with a pseudo-terminal as its standard output and standard error, as a
// user's terminal would be, and keeps every byte the command writes to it. The terminal is in
// raw mode, so the bytes are those the program wrote (no newline translation). The command's
// own redirections ("> stdout.txt") take streams off the terminal.
#include <chrono>
#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

struct TerminalRun {
  int status = -1; // exit status, or -1
  std::string bytes;
  double spanSeconds = 0; // from the first byte received to the last
};

inline TerminalRun runOnTerminal(const std::string &command) {
  TerminalRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    return run;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  if (slave < 0) {
    close(master);
    return run;
  }
  termios mode;
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);
  const pid_t child = fork();
  if (child == 0) {
    close(master);
    const int none = open("/dev/null", O_RDONLY);
    dup2(none, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    close(slave);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(slave); // the master reads end of file (EIO) once the child's copies are closed
  char buffer[4096];
  std::chrono::steady_clock::time_point first;
  for (;;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0)
      break;
    const auto now = std::chrono::steady_clock::now();
    if (run.bytes.empty())
      first = now;
    run.spanSeconds = std::chrono::duration<double>(now - first).count();
    run.bytes.append(buffer, static_cast<std::size_t>(got));
  }
  close(master);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    run.status = WEXITSTATUS(status);
  return run;
}

// The draws of a progress line ("iteration 3/16  0:01 elapsed  about 0:04 left", each after an
// erase of the row or at the row's start) and its erases. A small scanner rather than
// std::regex, whose inlined automaton draws false warnings from the optimiser.
namespace draw_scan {

constexpr const char *kErase = "\r\x1b[K";

// Length of the run of characters from `set` at `at` (at least one), else 0.
inline std::size_t span(const std::string &bytes, std::size_t at, const char *set) {
  const std::size_t end = bytes.find_first_not_of(set, at);
  return (end == std::string::npos ? bytes.size() : end) - at;
}

inline bool literal(const std::string &bytes, std::size_t &at, const char *text) {
  const std::string expected = text;
  if (bytes.compare(at, expected.size(), expected) != 0)
    return false;
  at += expected.size();
  return true;
}

inline bool run(const std::string &bytes, std::size_t &at, const char *set) {
  const std::size_t length = span(bytes, at, set);
  at += length;
  return length > 0;
}

// The length of a draw that starts at `at`, else 0.
inline std::size_t drawAt(const std::string &bytes, std::size_t at) {
  std::size_t p = at;
  literal(bytes, p, kErase);
  if (!(run(bytes, p, "abcdefghijklmnopqrstuvwxyz") && literal(bytes, p, " ") &&
        run(bytes, p, "0123456789") && literal(bytes, p, "/") && run(bytes, p, "0123456789") &&
        literal(bytes, p, "  ") && run(bytes, p, "0123456789:") && literal(bytes, p, " elapsed")))
    return 0;
  std::size_t left = p;
  if (literal(bytes, left, "  about ") && run(bytes, left, "0123456789:") &&
      literal(bytes, left, " left"))
    p = left;
  return p - at;
}

// `bytes` without every match of `matchAt` (leftmost first, not overlapping), and their count.
template <class Match>
inline std::string removeAll(const std::string &bytes, Match matchAt, int &count) {
  std::string kept;
  count = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    if (const std::size_t length = matchAt(bytes, at); length > 0) {
      ++count;
      at += length;
    } else {
      kept += bytes[at++];
    }
  }
  return kept;
}

inline std::size_t eraseAt(const std::string &bytes, std::size_t at) {
  std::size_t p = at;
  return literal(bytes, p, kErase) ? p - at : 0;
}

} // namespace draw_scan

// What the terminal shows besides the progress line: the bytes without its draws and erases.
inline std::string withoutProgressLine(const std::string &bytes) {
  int count = 0;
  const std::string drawsGone = draw_scan::removeAll(bytes, draw_scan::drawAt, count);
  return draw_scan::removeAll(drawsGone, draw_scan::eraseAt, count);
}

// Number of draws of the line among `bytes`.
inline int progressDrawCount(const std::string &bytes) {
  int count = 0;
  draw_scan::removeAll(bytes, draw_scan::drawAt, count);
  return count;
}

} // namespace testsupport
