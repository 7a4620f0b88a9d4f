#include "tools/text/printable_text.h"

namespace {

constexpr std::size_t kShownLength = 80;

// The length of the valid UTF-8 sequence `text` starts with, or 0: overlong forms,
// surrogates and code points past U+10FFFF are not valid.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  const std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || text.size() < length) return 0;
  // The second byte's range is narrower after these leads; the others take 80 to BF.
  const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

// C0 controls, DEL, and the C1 controls U+0080 to U+009F, which some terminals obey too.
bool IsControl(std::string_view sequence) {
  const auto lead = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return lead < 0x20 || lead == 0x7F;
  return sequence.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0;
}

std::string Escaped(std::string_view bytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    shown += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
  }
  return shown;
}

// The text made printable and cut to about kShownLength characters of what is shown;
// `cut` tells whether anything was left out.
std::string Printable(std::string_view text, bool& cut) {
  std::string shown;
  std::size_t shownLength = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = Utf8Length(text.substr(at));
    const std::string_view sequence = text.substr(at, length == 0 ? 1 : length);
    const bool plain = length != 0 && !IsControl(sequence);
    const std::size_t width = plain ? 1 : 4 * sequence.size();
    if (shownLength + width > kShownLength) break;
    shown += plain ? std::string(sequence) : Escaped(sequence);
    shownLength += width;
    at += sequence.size();
  }
  cut = at < text.size();
  return shown;
}

}  // namespace

std::string Printable(std::string_view text) {
  bool cut = false;
  std::string shown = Printable(text, cut);
  return cut ? shown + "..." : shown;
}

std::string Quoted(std::string_view argument) {
  bool cut = false;
  std::string shown = "'";
  shown += Printable(argument, cut);
  shown += cut ? "'..." : "'";
  return shown;
}
