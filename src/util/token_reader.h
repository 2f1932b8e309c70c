#pragma once
// Whitespace-separated tokens of a file or of a text in memory: the one reader behind the
// network files, the result files and the neighbourhood file. Tokens are split at the blanks of
// the C locale (space, \t, \n, \v, \f, \r), as `>>` splits them, so they are the same tokens.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace torva {

class TokenReader {
public:
  // Reads `file` (which stays the caller's to close) through a fixed buffer: a whole-brain
  // neighbourhood file holds millions of numbers.
  explicit TokenReader(std::FILE *file);
  // Reads `text`, which must outlive the reader.
  explicit TokenReader(std::string_view text);

  // The next token into `token`; false (and `token` empty) at the end.
  bool next(std::string &token);

private:
  bool refill();

  std::FILE *file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  const char *pos_ = nullptr;
  const char *end_ = nullptr;
};

} // namespace torva
