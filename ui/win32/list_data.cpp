#include "ui/win32/list_data.h"

#include <algorithm>

namespace ui {
namespace {

constexpr std::uint32_t kAddString = 0x0403;
constexpr std::size_t kEntryHeaderSize = 8;

std::uint32_t LittleEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

std::vector<ListEntry> ParseListData(std::span<const std::uint8_t> data) {
  std::vector<ListEntry> entries;
  while (data.size() >= 2) {
    const auto controlId = static_cast<int>(LittleEndian(data.first(2)));
    if (controlId == 0 || data.size() < kEntryHeaderSize) break;
    const std::uint32_t message = LittleEndian(data.subspan(2, 2));
    const std::uint32_t length = LittleEndian(data.subspan(4, 4));
    data = data.subspan(kEntryHeaderSize);
    if (length > data.size()) break;
    const auto string = data.first(length);
    if (message == kAddString) {
      const auto end = std::ranges::find(string, std::uint8_t{0});
      entries.push_back({controlId, std::string(string.begin(), end)});
    }
    data = data.subspan(length);
  }
  return entries;
}

}  // namespace ui
