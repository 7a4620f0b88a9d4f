// Splits resource-script text into tokens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TokenKind { kName, kNumber, kString, kPunct, kDirective, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  // A name or punctuation as written, a string's bytes after escapes, or a directive's line
  // after the '#'.
  std::string text{};
  std::uint32_t number = 0;
  bool isLong = false;  // written with the L suffix: 32 bits wide in raw data
  int line = 0;
};

struct LexError {
  int line = 0;
  std::string message;
};

// Fills `tokens`, ending with a kEnd token, or fails with `error`. The text must be UTF-8. A
// line whose first non-blank character is '#' becomes one directive token.
bool Tokenize(std::string_view text, int firstLine, std::vector<Token>& tokens, LexError& error);
