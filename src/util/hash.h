#pragma once
// FNV-1a, 64 bits: fast, dependency-free and stable across machines, which is all a fingerprint
// that guards against mixing up studies needs. Pass the previous result as `hash` to continue
// over more bytes.
#include <cstddef>
#include <cstdint>

constexpr std::uint64_t kFnv1aStart = 14695981039346656037ull;
std::uint64_t fnv1a64(const void *data, std::size_t size, std::uint64_t hash = kFnv1aStart);
