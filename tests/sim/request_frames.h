// Requests and reply checks shared by the simulator's pure tests.
#pragma once

#include <cstdint>
#include <vector>

#include "serial/rtu.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes Request(std::uint8_t address, std::uint8_t function, std::uint8_t reg,
                     std::uint16_t value) {
  const RtuRequest request =
      BuildRtuRequest({address, function, 0, reg, static_cast<std::uint8_t>(value >> 8),
                       static_cast<std::uint8_t>(value & 0xFF)});
  return Bytes(request.begin(), request.end());
}

inline Bytes Read(std::uint8_t address, std::uint8_t reg, std::uint16_t count = 1) {
  return Request(address, 0x03, reg, count);
}

inline Bytes Write(std::uint8_t address, std::uint8_t reg, std::uint16_t value) {
  return Request(address, 0x06, reg, value);
}

// Everything a response puts on the line, in order.
template <typename AnyResponse>
Bytes Joined(const AnyResponse& response) {
  Bytes all;
  for (const auto& part : response.parts) {
    all.insert(all.end(), part.bytes.begin(), part.bytes.end());
  }
  return all;
}

inline bool IsGood(const Bytes& reply) {
  return IsGoodRtuReply(reply, reply.size(), static_cast<unsigned>(reply.size()));
}
