// The initial entries of a dialog's drop-down lists, as the resource script keeps them in the
// dialog's DLGINIT resource (type 240, named like the dialog). Each entry: the control's id
// (16 bits), the message 0x0403 (add a string, 16 bits), the byte length of the UTF-8 string
// with its NUL (32 bits), then the string; an id of 0 ends the data. All little-endian.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ui {

inline constexpr int kListDataResourceType = 240;

struct ListEntry {
  int controlId = 0;
  std::string text;  // UTF-8, without its NUL

  friend bool operator==(const ListEntry&, const ListEntry&) = default;
};

// The add-a-string entries in data order. Entries with another message are passed over;
// data that ends inside an entry ends the list there instead of being read past.
std::vector<ListEntry> ParseListData(std::span<const std::uint8_t> data);

}  // namespace ui
