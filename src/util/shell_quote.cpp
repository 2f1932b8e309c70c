#include "util/shell_quote.h"

std::string shellQuoted(const std::string &text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

std::string shellWord(const std::string &text) {
  const bool plain =
      !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_-./=:,+@%") == std::string::npos;
  return plain ? text : shellQuoted(text);
}
