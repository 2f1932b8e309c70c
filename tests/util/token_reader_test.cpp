// The one token reader splits as `>>` does, from a file through its buffer or from memory.
#include "util/token_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using torva::TokenReader;

std::vector<std::string> streamTokens(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (std::string token; in >> token;)
    tokens.push_back(token);
  return tokens;
}

std::vector<std::string> readAll(TokenReader &reader) {
  std::vector<std::string> tokens;
  for (std::string token; reader.next(token);)
    tokens.push_back(token);
  return tokens;
}

std::vector<std::string> fileTokens(const std::string &text) {
  std::FILE *file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  std::fwrite(text.data(), 1, text.size(), file);
  std::rewind(file);
  TokenReader reader(file);
  std::vector<std::string> tokens = readAll(reader);
  std::fclose(file);
  return tokens;
}

// Random texts of every blank, a NUL, bytes above 127 and digits: both routes give the stream's
// tokens. Texts up to 200 KiB make tokens straddle the 64 KiB buffer of the file route.
TEST(TokenReader, SplitsAsTheStreamDoesFromMemoryAndFromAFile) {
  std::mt19937 random(11);
  const std::string alphabet =
      std::string(" \t\n\v\f\r", 6) + std::string(1, '\0') + "\x80\xff" + "0123456789-+.eabc";
  for (const std::size_t size : {0u, 1u, 17u, 1000u, 65535u, 65536u, 65537u, 200000u}) {
    std::string text(size, ' ');
    for (char &c : text)
      c = alphabet[random() % alphabet.size()];
    const std::vector<std::string> expected = streamTokens(text);
    TokenReader inMemory{std::string_view(text)};
    EXPECT_EQ(readAll(inMemory), expected) << size;
    EXPECT_EQ(fileTokens(text), expected) << size;
  }
}

TEST(TokenReader, ATokenAcrossTheBufferEdgeIsWhole) {
  // 65530 blanks, then a 20-character token over the 65536-byte edge, then one more.
  const std::string text = std::string(65530, ' ') + "12345678901234567890\n7";
  EXPECT_EQ(fileTokens(text), (std::vector<std::string>{"12345678901234567890", "7"}));
}

TEST(TokenReader, BlanksOnlyHoldNoTokenAndTheEndStays) {
  TokenReader reader{std::string_view(" \n\t ")};
  std::string token = "left over";
  EXPECT_FALSE(reader.next(token));
  EXPECT_TRUE(token.empty());
  EXPECT_FALSE(reader.next(token));
  EXPECT_EQ(fileTokens(""), std::vector<std::string>{});
}

} // namespace
