#include "tests/cli/log_parsers.h"

#include <gtest/gtest.h>

#include <charconv>
#include <regex>
#include <utility>

#include "tests/support/text_lines.h"

namespace {

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::optional<JsonObject> Object() {
    JsonObject object;
    if (!Take('{')) return std::nullopt;
    if (Take('}')) return End(object);
    do {
      auto name = String();
      if (!name || !Take(':')) return std::nullopt;
      auto value = Value();
      if (!value || !object.emplace(*name, *value).second) return std::nullopt;
    } while (Take(','));
    if (!Take('}')) return std::nullopt;
    return End(object);
  }

 private:
  std::optional<JsonObject> End(const JsonObject& object) {
    SkipBlanks();
    return at_ == text_.size() ? std::optional(object) : std::nullopt;
  }

  void SkipBlanks() {
    while (at_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
  }

  bool Take(char c) {
    SkipBlanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  bool TakeWord(std::string_view word) {
    SkipBlanks();
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<JsonValue> Value() {
    if (TakeWord("null")) return JsonValue(nullptr);
    if (TakeWord("true")) return JsonValue(true);
    if (TakeWord("false")) return JsonValue(false);
    SkipBlanks();
    if (at_ < text_.size() && text_[at_] == '"') {
      auto text = String();
      return text ? std::optional(JsonValue(*text)) : std::nullopt;
    }
    if (Take('[')) return Strings();
    return Number();
  }

  // The rest of an array of strings, after its '['.
  std::optional<JsonValue> Strings() {
    std::vector<std::string> strings;
    if (Take(']')) return JsonValue(strings);
    do {
      auto text = String();
      if (!text) return std::nullopt;
      strings.push_back(*text);
    } while (Take(','));
    if (!Take(']')) return std::nullopt;
    return JsonValue(strings);
  }

  std::optional<JsonValue> Number() {
    static const std::regex kNumber(R"(^-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    const std::string rest(text_.substr(at_));
    std::smatch match;
    if (!std::regex_search(rest, match, kNumber)) return std::nullopt;
    at_ += static_cast<std::size_t>(match.length(0));
    return JsonValue(std::stod(match.str(0)));
  }

  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string text;
    while (at_ < text_.size() && text_[at_] != '"') {
      const char c = text_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        text += c;
      } else if (!Escape(text)) {
        return std::nullopt;
      }
    }
    if (at_ == text_.size()) return std::nullopt;
    ++at_;
    return text;
  }

  // Only the escapes of ASCII characters, all that the log's texts can need.
  bool Escape(std::string& text) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    constexpr std::string_view kPlain = "\"\\/bfnrt";
    constexpr std::string_view kMeant = "\"\\/\b\f\n\r\t";
    if (const auto plain = kPlain.find(c); plain != std::string_view::npos) {
      text += kMeant[plain];
      return true;
    }
    unsigned code = 0;
    const std::string_view digits = text_.substr(at_, 4);
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, 16);
    if (c != 'u' || digits.size() != 4 || error != std::errc() || end != digits.data() + 4 ||
        code > 0x7F) {
      return false;
    }
    at_ += 4;
    text += static_cast<char>(code);
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<JsonObject> ParseJsonObject(std::string_view text) {
  return JsonReader(text).Object();
}

std::vector<JsonObject> JsonLines(const std::string& output) {
  std::vector<JsonObject> objects;
  for (const std::string& line : Lines(output)) {
    const auto object = ParseJsonObject(line);
    EXPECT_TRUE(object) << line;
    if (object) objects.push_back(*object);
  }
  return objects;
}

std::optional<std::vector<std::vector<std::string>>> ParseCsv(std::string_view text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;     // inside a quoted field
  bool wasQuoted = false;  // the field was quoted: only a comma or a line break may follow
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
        wasQuoted = true;
      }
    } else if (c == ',' || c == '\n') {
      record.push_back(field);
      field.clear();
      wasQuoted = false;
      if (c == '\n') records.push_back(std::exchange(record, {}));
    } else if (c == '"' && field.empty() && !wasQuoted) {
      quoted = true;
    } else if (c == '"' || wasQuoted) {
      return std::nullopt;
    } else {
      field += c;
    }
  }
  if (quoted || !field.empty() || !record.empty()) return std::nullopt;  // an unended line
  return records;
}
