#pragma once
// Bit counting for the packed study. Functions marked TORVA_POPCOUNT_KERNEL are compiled twice on
// x86-64, with and without the popcnt instruction, and the loader picks the one the processor
// runs; without it every count would go through a slow library routine.
#include <cstdint>

// ThreadSanitizer instruments the loader's choice of clone, which runs before its runtime is up
// and crashes the program; that build counts through the library routine. So does a clang build
// (only the fuzz targets): clang 14 leaves the clones of member functions undefined at link time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_THREAD__)
#define TORVA_POPCOUNT_KERNEL __attribute__((target_clones("popcnt", "default")))
#else
#define TORVA_POPCOUNT_KERNEL
#endif

namespace torva {

inline int popcount(std::uint64_t word) { return __builtin_popcountll(word); }

} // namespace torva
