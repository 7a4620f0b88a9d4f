// Numbers typed into the window are read the way the C library's atoi reads them, and the
// numbers it shows are written the way its printf writes them in the "C" locale: neither
// depends on the locale the process runs in.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Leading white space, an optional sign, then digits up to the first other character:
// "12ab" is 12, "" and "ab" are 0. Unlike atoi, text beyond the range of int saturates at
// its limit instead of being undefined.
int TextToInt(std::string_view text);

// `format` with its one "%.1f" replaced by `value` rounded to one decimal, with a full stop
// as the decimal mark: FormatOneDecimal("Ver%.1f", 1.25) is "Ver1.2", as printf gives it in
// the "C" locale. A toolkit that sets the locale from the environment (Qt does) would
// otherwise turn it into "Ver1,2" under a decimal-comma locale.
std::string FormatOneDecimal(std::string_view format, double value);

// printf into a string, for formats of whole numbers and texts ("%d", "%s"), which no locale
// changes.
template <typename... Values>
std::string FormatText(const char* format, Values... values) {
  const int length = std::snprintf(nullptr, 0, format, values...);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}
