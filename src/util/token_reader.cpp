#include "util/token_reader.h"

namespace torva {

namespace {

constexpr std::size_t kBufferBytes = 1 << 16;

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

TokenReader::TokenReader(std::FILE *file)
    : file_(file), buffer_(new char[kBufferBytes]), pos_(buffer_.get()), end_(buffer_.get()) {}

TokenReader::TokenReader(std::string_view text)
    : pos_(text.data()), end_(text.data() + text.size()) {}

bool TokenReader::refill() {
  if (file_ == nullptr)
    return false;
  const std::size_t got = std::fread(buffer_.get(), 1, kBufferBytes, file_);
  pos_ = buffer_.get();
  end_ = pos_ + got;
  return got > 0;
}

bool TokenReader::next(std::string &token) {
  token.clear();
  for (;;) {
    while (pos_ != end_ && isBlank(*pos_))
      ++pos_;
    if (pos_ != end_)
      break;
    if (!refill())
      return false;
  }
  // A token may run across the end of the buffer.
  for (;;) {
    const char *start = pos_;
    while (pos_ != end_ && !isBlank(*pos_))
      ++pos_;
    token.append(start, pos_);
    if (pos_ != end_ || !refill())
      return true;
  }
}

} // namespace torva
