// Modbus RTU framing: the 8-byte request, the CRC, the reply test and the exchange.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "serial/comm_port.h"

// The CRC as the two bytes go on the line: high half first, low half second.
std::uint16_t ModbusCrc16(const std::uint8_t* data, std::size_t length);

using RtuRequestHead = std::array<std::uint8_t, 6>;  // address, function, 4 bytes of data
using RtuRequest = std::array<std::uint8_t, 8>;

// The head followed by its CRC.
RtuRequest BuildRtuRequest(const RtuRequestHead& head);

inline constexpr std::size_t kMaxRtuReply = 9;

struct RtuReply {
  std::array<std::uint8_t, kMaxRtuReply> bytes{};
  std::size_t length = 0;

  // The unsigned big-endian value of register `index` (0 for the first) of a read reply.
  std::uint16_t Register(std::size_t index) const {
    return static_cast<std::uint16_t>(bytes[3 + 2 * index] << 8 | bytes[4 + 2 * index]);
  }
};

// A reply is good only when the queue held exactly the expected length, that many bytes
// were read, and the CRC over all but the last two matches them. Address, function code
// and echoed values are not compared with the request.
bool IsGoodRtuReply(std::span<const std::uint8_t> read, std::size_t expectedLength,
                    unsigned queuedCount);

// One attempt: write the request, wait up to `waitMs` for the reply, read exactly
// `replyLength` bytes, judge them. No retry, no flush before sending.
std::optional<RtuReply> RtuExchange(CommHandle port, const RtuRequestHead& head,
                                    std::size_t replyLength, unsigned waitMs);
