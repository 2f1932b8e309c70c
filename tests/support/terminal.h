#pragma once
// Runs a shell command with a pseudo-terminal as its standard output and standard error, as a
// user's terminal would be, and keeps every byte the command writes to it. The terminal is in
// raw mode, so the bytes are those the program wrote (no newline translation). The command's
// own redirections ("> stdout.txt") take streams off the terminal.
#include <chrono>
#include <fcntl.h>
#include <regex>
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
// erase of the row or at the row's start) and its erases.
inline const std::regex &progressDraw() {
  static const std::regex draw("(\r\x1b\\[K)?[a-z]+ [0-9]+/[0-9]+  [0-9:]+ elapsed"
                               "(  about [0-9:]+ left)?");
  return draw;
}

// What the terminal shows besides the progress line: the bytes without its draws and erases.
inline std::string withoutProgressLine(const std::string &bytes) {
  const std::string drawsGone = std::regex_replace(bytes, progressDraw(), "");
  return std::regex_replace(drawsGone, std::regex("\r\x1b\\[K"), "");
}

// Number of draws of the line among `bytes`.
inline int progressDrawCount(const std::string &bytes) {
  return static_cast<int>(std::distance(
      std::sregex_iterator(bytes.begin(), bytes.end(), progressDraw()), std::sregex_iterator()));
}

} // namespace testsupport
