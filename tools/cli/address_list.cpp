#include "tools/cli/address_list.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <utility>

#include "tools/text/printable_text.h"

namespace {

constexpr int kHighestAddress = 255;

std::optional<int> ParseAddress(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < 0 || value > kHighestAddress) {
    return std::nullopt;
  }
  return value;
}

// One item of the list: an address, or the first and last of a range, in that order.
std::optional<std::pair<int, int>> ParseItem(std::string_view item) {
  const std::size_t dash = item.find('-');
  const auto first = ParseAddress(item.substr(0, dash));
  if (dash == std::string_view::npos) {
    if (!first) return std::nullopt;
    return std::pair(*first, *first);
  }
  const auto last = ParseAddress(item.substr(dash + 1));
  if (!first || !last || *last < *first) return std::nullopt;
  return std::pair(*first, *last);
}

}  // namespace

std::string ParseAddressList(const std::string& text, std::vector<int>* addresses) {
  std::vector<int> parsed;
  std::string_view rest = text;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const auto item = ParseItem(rest.substr(0, comma));
    if (!item) {
      return "--address must be an address from 0 to 255, or for poll a list such as "
             "3,7,10-12, not " +
             Quoted(text);
    }
    for (int address = item->first; address <= item->second; ++address) {
      if (std::find(parsed.begin(), parsed.end(), address) != parsed.end()) {
        return "--address names address " + std::to_string(address) + " twice";
      }
      parsed.push_back(address);
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  *addresses = std::move(parsed);
  return {};
}

std::string AddressListText(const std::vector<int>& addresses) {
  std::string text;
  for (const int address : addresses) {
    text.append(text.empty() ? "" : ", ").append(std::to_string(address));
  }
  return text;
}
