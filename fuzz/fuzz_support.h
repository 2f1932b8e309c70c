#pragma once
// Shared pieces of the fuzz targets: fuzzer input as a file the readers can open by path, and
// a failed expectation as a crash the fuzzer records.
#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

// Standard error as it was at start-up: `make fuzz` closes the targets' own output (the
// readers' messages would flood the logs), but a broken expectation must still be seen.
inline const int kReportFd = dup(2);

// Reports a broken expectation of a reader and stops, so libFuzzer keeps the input.
inline void expect(bool holds, const char *what) {
  if (!holds) {
    dprintf(kReportFd, "fuzz expectation failed: %s\n", what);
    std::abort();
  }
}

// Bytes held in memory under a path ("/proc/self/fd/N"): no disk traffic per input, and each
// open of the path starts at offset 0.
class MemoryFile {
public:
  MemoryFile(const std::uint8_t *data, std::size_t size) {
    fd_ = memfd_create("fuzz-input", MFD_CLOEXEC);
    expect(fd_ >= 0, "memfd_create");
    write(data, size);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  MemoryFile() : MemoryFile(nullptr, 0) {}
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile &) = delete;
  MemoryFile &operator=(const MemoryFile &) = delete;

  const std::string &path() const { return path_; }

private:
  void write(const std::uint8_t *data, std::size_t size) {
    while (size > 0) {
      const ssize_t written = ::write(fd_, data, size);
      expect(written > 0, "write to memfd");
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }

  int fd_ = -1;
  std::string path_;
};

// A private folder for readers that need real file names (the image reader picks the file form
// by extension); made once per process, in memory when the machine has /dev/shm, and removed
// with its files when the fuzzer exits normally.
inline std::string &scratchFolderName() {
  static std::string folder;
  return folder;
}

inline void removeScratchFolder() {
  const std::string &folder = scratchFolderName();
  if (DIR *entries = opendir(folder.c_str())) {
    while (const dirent *entry = readdir(entries))
      if (entry->d_name[0] != '.')
        unlink((folder + "/" + entry->d_name).c_str());
    closedir(entries);
  }
  rmdir(folder.c_str());
}

inline const std::string &scratchFolder() {
  std::string &folder = scratchFolderName();
  if (folder.empty()) {
    char inMemory[] = "/dev/shm/torva-fuzz-XXXXXX";
    char onDisk[] = "/tmp/torva-fuzz-XXXXXX";
    const char *made = mkdtemp(inMemory);
    if (made == nullptr)
      made = mkdtemp(onDisk);
    expect(made != nullptr, "mkdtemp");
    folder = made;
    std::atexit(removeScratchFolder);
  }
  return folder;
}

inline void writeWholeFile(const std::string &path, const std::uint8_t *data, std::size_t size) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  expect(file != nullptr, "create scratch file");
  expect(size == 0 || std::fwrite(data, 1, size, file) == size, "write scratch file");
  expect(std::fclose(file) == 0, "close scratch file");
}

} // namespace fuzzsupport
