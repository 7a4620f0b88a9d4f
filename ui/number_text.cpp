#include "ui/number_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

int TextToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Past this magnitude both signs have saturated; stopping growth there avoids overflow.
  constexpr long long kSaturated = 1LL + std::numeric_limits<int>::max();
  long long magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kSaturated);
  }
  const long long value = negative ? -magnitude : magnitude;
  return static_cast<int>(std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

std::string FormatOneDecimal(std::string_view format, double value) {
  constexpr std::string_view kPlaceholder = "%.1f";
  // Room for the widest double in fixed notation: 309 digits, sign, point and one decimal.
  std::array<char, 320> digits;
  const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                     std::chars_format::fixed, 1);
  const std::string_view number(digits.data(),
                                static_cast<std::size_t>(written.ptr - digits.data()));
  const std::size_t at = format.find(kPlaceholder);
  if (at == std::string_view::npos) return std::string(format);
  return std::string(format.substr(0, at))
      .append(number)
      .append(format.substr(at + kPlaceholder.size()));
}
