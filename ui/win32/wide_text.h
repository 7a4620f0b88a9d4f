// The window code's texts are UTF-8; the wide-character API takes UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace ui {

// Malformed input becomes U+FFFD rather than being dropped or cut short.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace ui
