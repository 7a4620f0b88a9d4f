// Modbus TCP framing as pure functions of bytes: an RTU request carried as a Modbus TCP
// request, and a reply stream cut into frames, each checked (transaction, protocol, length)
// and handed on as the RTU frame a serial line would have carried, so that the RTU judge
// sees the unit as the address and checks the rest as on any line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Transaction id, protocol id, length of what follows, unit id.
inline constexpr std::size_t kMbapHeader = 7;

// The RTU frame as a Modbus TCP request: the header with the frame's address as unit id,
// then the PDU without the CRC. None for a frame too short to be a request or whose CRC is
// wrong: it is not ours, and the gateway would put a good one on its line.
std::optional<std::vector<std::uint8_t>> MbapRequest(std::span<const std::uint8_t> rtuFrame,
                                                     std::uint16_t transaction);

// What the start of a reply stream holds.
struct MbapScan {
  enum class Kind {
    kIncomplete,        // not a whole frame yet
    kFrame,             // a reply to the transaction: `rtu` is it as an RTU frame
    kOtherTransaction,  // a whole frame for another transaction, late from an earlier one
    kNotModbus,         // a protocol id other than 0, or a length no frame has
  };
  Kind kind = Kind::kIncomplete;
  std::size_t length = 0;         // kFrame, kOtherTransaction: the bytes the frame takes
  std::vector<std::uint8_t> rtu;  // kFrame: unit id, PDU and their CRC
};
MbapScan ScanMbapReply(std::span<const std::uint8_t> stream, std::uint16_t transaction);
