#include "util/hash.h"

std::uint64_t fnv1a64(const void *data, std::size_t size, std::uint64_t hash) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
  return hash;
}
