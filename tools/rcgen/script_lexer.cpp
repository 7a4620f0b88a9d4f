#include "tools/rcgen/script_lexer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr std::uint64_t kMaxNumber = 0xFFFFFFFF;

// The length of the valid UTF-8 sequence at `pos`, or 0.
std::size_t Utf8Length(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t codePoint = 0;
  std::uint32_t smallest = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, codePoint = lead & 0x1Fu, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, codePoint = lead & 0x0Fu, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, codePoint = lead & 0x07u, smallest = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = codePoint << 6 | (next & 0x3Fu);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (codePoint < smallest || codePoint > 0x10FFFF || surrogate) return 0;
  return length;
}

// The line of the first byte that is not part of valid UTF-8, or 0.
int FirstNonUtf8Line(std::string_view text, int firstLine) {
  int line = firstLine;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = Utf8Length(text, pos);
    if (length == 0) return line;
    line += text[pos] == '\n';
    pos += length;
  }
  return 0;
}

bool IsNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string Describe(char c) {
  if (std::isprint(static_cast<unsigned char>(c))) return std::string("'") + c + "'";
  char hex[16];
  std::snprintf(hex, sizeof hex, "byte 0x%02X", static_cast<unsigned char>(c));
  return hex;
}

class Lexer {
 public:
  Lexer(std::string_view text, int firstLine, std::vector<Token>& tokens, LexError& error)
      : text_(text), line_(firstLine), tokens_(tokens), error_(error) {}

  bool Run() {
    bool lineStart = true;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_, ++pos_, lineStart = true;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "//") {
        pos_ = std::min(text_.find('\n', pos_), text_.size());
      } else if (text_.substr(pos_, 2) == "/*") {
        if (!SkipBlockComment()) return false;
      } else if (c == '#' && lineStart) {
        ReadDirective();
      } else {
        lineStart = false;
        if (!ReadToken()) return false;
      }
    }
    tokens_.push_back({.kind = TokenKind::kEnd, .line = line_});
    return true;
  }

 private:
  bool Fail(std::string message) {
    error_ = {line_, std::move(message)};
    return false;
  }

  bool SkipBlockComment() {
    const std::size_t end = text_.find("*/", pos_ + 2);
    if (end == std::string_view::npos) return Fail("unterminated comment");
    for (; pos_ < end + 2; ++pos_) line_ += text_[pos_] == '\n';
    return true;
  }

  void ReadDirective() {
    const std::size_t end = std::min(text_.find('\n', pos_), text_.size());
    tokens_.push_back({.kind = TokenKind::kDirective,
                       .text = std::string(text_.substr(pos_ + 1, end - pos_ - 1)),
                       .line = line_});
    pos_ = end;
  }

  bool ReadToken() {
    const char c = text_[pos_];
    if (IsNameStart(c)) return ReadName();
    if (std::isdigit(static_cast<unsigned char>(c))) return ReadNumber();
    if (c == '"') return ReadString();
    if (std::string_view(",|()-").find(c) != std::string_view::npos) {
      tokens_.push_back({.kind = TokenKind::kPunct, .text = std::string(1, c), .line = line_});
      ++pos_;
      return true;
    }
    return Fail("unexpected " + Describe(c));
  }

  bool ReadName() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    tokens_.push_back({.kind = TokenKind::kName,
                       .text = std::string(text_.substr(start, pos_ - start)),
                       .line = line_});
    return true;
  }

  bool ReadNumber() {
    const std::size_t start = pos_;
    const bool hex = text_.substr(pos_, 2) == "0x" || text_.substr(pos_, 2) == "0X";
    if (hex) pos_ += 2;
    const int base = hex ? 16 : 10;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]));
         ++pos_, ++digits) {
      const char d = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_])));
      if (!hex && !std::isdigit(static_cast<unsigned char>(d))) break;
      value = value * base + static_cast<std::uint64_t>(d <= '9' ? d - '0' : d - 'a' + 10);
      if (value > kMaxNumber) return Fail("number too large");
    }
    Token token{.kind = TokenKind::kNumber, .number = static_cast<std::uint32_t>(value)};
    if (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'l')) {
      token.isLong = true;
      ++pos_;
    }
    if (digits == 0 || (pos_ < text_.size() && IsNameChar(text_[pos_]))) {
      while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
      return Fail("malformed number '" + std::string(text_.substr(start, pos_ - start)) + "'");
    }
    token.line = line_;
    tokens_.push_back(std::move(token));
    return true;
  }

  bool ReadString() {
    std::string bytes;
    ++pos_;
    while (true) {
      if (pos_ >= text_.size() || text_[pos_] == '\n') return Fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          bytes += '"', ++pos_;  // "" stands for one quote
          continue;
        }
        break;
      }
      if (c != '\\') {
        bytes += c;
      } else if (!ReadEscape(bytes)) {
        return false;
      }
    }
    if (FirstNonUtf8Line(bytes, 1) != 0) return Fail("string is not valid UTF-8");
    tokens_.push_back({.kind = TokenKind::kString, .text = std::move(bytes), .line = line_});
    return true;
  }

  bool ReadEscape(std::string& bytes) {
    if (pos_ >= text_.size()) return Fail("unterminated string");
    const char c = text_[pos_++];
    switch (c) {
      case 'n':
        bytes += '\n';
        return true;
      case 't':
        bytes += '\t';
        return true;
      case 'r':
        bytes += '\r';
        return true;
      case '\\':
      case '"':
        bytes += c;
        return true;
      default:
        break;
    }
    if (c < '0' || c > '7') return Fail("unsupported escape '\\" + std::string(1, c) + "'");
    unsigned value = static_cast<unsigned>(c - '0');
    for (int i = 1; i < 3 && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '7'; ++i) {
      value = value * 8 + static_cast<unsigned>(text_[pos_++] - '0');
    }
    if (value > 0xFF) return Fail("octal escape out of range");
    bytes += static_cast<char>(value);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_;
  std::vector<Token>& tokens_;
  LexError& error_;
};

}  // namespace

bool Tokenize(std::string_view text, int firstLine, std::vector<Token>& tokens, LexError& error) {
  if (const int line = FirstNonUtf8Line(text, firstLine); line != 0) {
    error = {line, "text is not valid UTF-8 (the script is read as code page 65001)"};
    return false;
  }
  return Lexer(text, firstLine, tokens, error).Run();
}
