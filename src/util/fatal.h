#pragma once
// Process endings shared by the command and its readers. Every fatal input error leaves with
// kExitInputError so that shells and schedulers see the failure.
#include <cstdio>
#include <string>

namespace torva {

constexpr int kExitSuccess = 0;
constexpr int kExitInputError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitEmptyCandidateSet = -2;

// Writes `message` unchanged to `stream`, flushes both standard streams and ends the process.
[[noreturn]] void exitWithMessage(int status, std::FILE *stream, const std::string &message);

// Flushes both standard streams and ends the process.
[[noreturn]] void exitWithStatus(int status);

} // namespace torva
