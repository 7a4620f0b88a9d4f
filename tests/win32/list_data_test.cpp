// The drop-down lists' data as the resource script lays it out, and data that is cut short.
#include "ui/win32/list_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// One entry: id, message, the length of the string with its NUL, the string and its NUL.
Bytes Entry(std::uint16_t controlId, std::uint16_t message, const std::string& text) {
  const auto length = static_cast<std::uint32_t>(text.size() + 1);
  Bytes bytes = {static_cast<std::uint8_t>(controlId), static_cast<std::uint8_t>(controlId >> 8),
                 static_cast<std::uint8_t>(message), static_cast<std::uint8_t>(message >> 8)};
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<std::uint8_t>(length >> shift));
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Bytes kEnd = {0, 0};

TEST(ListData, AddStringEntriesComeInDataOrderWithTheirControls) {
  const Bytes data =
      Join({Entry(1000, 0x0403, "Com1"), Entry(1023, 0x0403, "高"),
            Entry(1024, 0x0401, "a list box's, passed over"), Entry(1000, 0x0403, "Com10"), kEnd});
  const std::vector<ui::ListEntry> expected = {{1000, "Com1"}, {1023, "高"}, {1000, "Com10"}};
  EXPECT_EQ(ui::ParseListData(data), expected);
}

TEST(ListData, DataCutShortEndsTheListWithoutReadingPastIt) {
  const Bytes whole = Join({Entry(1000, 0x0403, "Com1"), Entry(1000, 0x0403, "Com2")});
  const std::size_t firstEnd = Entry(1000, 0x0403, "Com1").size();
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    const auto entries = ui::ParseListData(std::span(whole).first(cut));
    EXPECT_EQ(entries.size(), cut < firstEnd ? 0u : 1u);
  }
  Bytes lengthTooLong = Entry(1000, 0x0403, "Com1");
  lengthTooLong[4] = 0xFF;
  EXPECT_TRUE(ui::ParseListData(lengthTooLong).empty());
}

}  // namespace
