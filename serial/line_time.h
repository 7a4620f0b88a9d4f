// How long bytes take on the line: 8N1 sends a start bit, eight data bits and a stop bit, so a
// byte takes ten bit times, 8.3 ms at 1200 baud.
#pragma once

#include <chrono>
#include <cstddef>

inline constexpr std::size_t kLineBitsPerByte = 10;

// The time `bytes` take at `baudRate`; nothing for a rate of 0 (a line whose rate is unknown).
constexpr std::chrono::microseconds LineTime(std::size_t bytes, int baudRate) {
  if (baudRate <= 0) return {};
  const auto bits = static_cast<long long>(bytes * kLineBitsPerByte);
  return std::chrono::microseconds((bits * 1'000'000 + baudRate - 1) / baudRate);
}

// The same in whole milliseconds, rounded up.
constexpr unsigned LineTimeMs(std::size_t bytes, int baudRate) {
  return static_cast<unsigned>(
      std::chrono::ceil<std::chrono::milliseconds>(LineTime(bytes, baudRate)).count());
}
