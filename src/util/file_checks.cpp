#include "util/file_checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace torva {

namespace {

const char *kindOfMode(mode_t mode) {
  if (S_ISDIR(mode))
    return "a directory";
  if (S_ISFIFO(mode))
    return "a FIFO (named pipe)";
  if (S_ISCHR(mode))
    return "a character device";
  if (S_ISBLK(mode))
    return "a block device";
  if (S_ISSOCK(mode))
    return "a socket";
  return "not a regular file";
}

} // namespace

std::string nonRegularKind(const std::string &path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode))
    return std::string();
  return kindOfMode(info.st_mode);
}

std::string inputFileProblem(const std::string &path, const std::string &what) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return what + " " + path + " cannot be found: " + std::strerror(errno);
  if (!S_ISREG(info.st_mode))
    return what + " " + path + " is " + kindOfMode(info.st_mode) + ", not a regular file";
  // Opened without blocking: the file is regular, but it may have been swapped since the stat.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return what + " " + path + " cannot be read: " + std::strerror(errno);
  ::close(fd);
  return std::string();
}

std::uint64_t memoryLimitBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0)
    return std::uint64_t(1) << 40; // unknown machine: 1 TiB
  return saturatingProduct(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(pageSize));
}

std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
    return std::numeric_limits<std::uint64_t>::max();
  return a * b;
}

std::string describeBytes(std::uint64_t bytes) {
  if (bytes == std::numeric_limits<std::uint64_t>::max())
    return "more than 16 EiB";
  if (bytes < 1024)
    return std::to_string(bytes) + " bytes";
  const char *units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 5) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string memoryNeedProblem(std::uint64_t bytes, const std::string &what) {
  const std::uint64_t limit = memoryLimitBytes();
  if (bytes <= limit)
    return std::string();
  return what + " would need " + describeBytes(bytes) + " of memory; this machine has " +
         describeBytes(limit);
}

} // namespace torva
