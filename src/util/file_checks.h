#pragma once
// Checks made before a file is opened or a large block is allocated, so that bad input ends in
// a message instead of a hang (a FIFO blocks its reader until a writer comes) or an allocation
// failure. Each returns an empty string when all is well, else a message without newline.
#include <cstdint>
#include <string>

namespace torva {

// Kind of the file at `path` as a user would name it ("a directory", "a FIFO", ...), following
// symbolic links; "" when it is a regular file or does not exist.
std::string nonRegularKind(const std::string &path);

// Problem with reading `path` as an input: it is missing, is not a regular file, or cannot be
// opened (permission). `what` names the input in the message ("image", "mask").
std::string inputFileProblem(const std::string &path, const std::string &what);

// Bytes a process may reasonably ask for: the machine's physical memory.
std::uint64_t memoryLimitBytes();

// A need of `bytes` (already computed by the caller, or UINT64_MAX when the product overflowed)
// for `what`: refused above memoryLimitBytes(), with both amounts in the message.
std::string memoryNeedProblem(std::uint64_t bytes, const std::string &what);

// a * b, or UINT64_MAX when the product does not fit.
std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b);

// "1.5 GiB", "608 bytes": an amount of memory for messages.
std::string describeBytes(std::uint64_t bytes);

} // namespace torva
