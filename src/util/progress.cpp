#include "util/progress.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <vector>

namespace torva {

namespace {
std::string runLogPath = kRunLogFileName;
thread_local std::ostream *threadText = nullptr;
thread_local std::string *threadLog = nullptr;
} // namespace

std::ostream &progress() { return threadText != nullptr ? *threadText : std::cout; }

void progressf(const char *format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    progress().write(small, length);
  } else {
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    progress().write(large.data(), length);
  }
  va_end(again);
}

std::string *runLogBuffer() { return threadLog; }

void setRunLogPath(const std::string &path) { runLogPath = path; }

void startRunLogText(const std::string &text) {
  if (threadLog != nullptr) {
    *threadLog = text;
    return;
  }
  std::ofstream log(runLogPath, std::ios::out | std::ios::trunc);
  log << text;
}

void appendRunLogText(const std::string &text) {
  if (threadLog != nullptr) {
    *threadLog += text;
    return;
  }
  std::ofstream log(runLogPath, std::ios::out | std::ios::app);
  log << text;
}

void redirectThreadOutput(std::ostream *text, std::string *log) {
  threadText = text;
  threadLog = log;
}

} // namespace torva
