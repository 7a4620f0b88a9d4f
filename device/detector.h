// The detector's holding registers and the eight operations on them. Each operation is one
// RTU exchange on an open port; the slave address's low 8 bits are sent.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <variant>

#include "serial/rtu.h"

namespace reg {
inline constexpr std::uint8_t kLeakState = 0;    // bit 0 of the low byte: 1 leak, 0 normal
inline constexpr std::uint8_t kAlarmType = 1;    // 0 none, 1 optical, 2 probe, 3 both
inline constexpr std::uint8_t kSensitivity = 2;  // 1 high, 2 medium, 3 low
inline constexpr std::uint8_t kVersion = 3;      // tenths
inline constexpr std::uint8_t kVoltage = 4;      // tenths of a volt; also what a probe reads
inline constexpr std::uint8_t kSlaveAddress = 8;
inline constexpr std::uint8_t kBaudCode = 9;
}  // namespace reg

// The baud rates in code order: code 0 is 1200, code 4 is 19200.
inline constexpr std::array<int, 5> kBaudRates = {1200, 2400, 4800, 9600, 19200};

// The detector's code for a baud rate, which is also its entry in the window's baud lists;
// -1 for any other rate.
int BaudCode(int baudRate);

struct DetectorStatus {
  bool leak = false;
  std::uint16_t alarmType = 0;  // the whole of register 1
};

// What an operation gives: its value when the exchange was good, and how the exchange went.
template <typename Value>
struct Exchanged {
  std::optional<Value> value;
  ExchangeOutcome outcome;

  explicit operator bool() const { return value.has_value(); }
  const Value& operator*() const { return *value; }
  const Value* operator->() const { return &*value; }
};
// A write has no value: it is done when its reply is good.
using Written = Exchanged<std::monostate>;

Exchanged<DetectorStatus> ReadStatus(CommHandle port, int address);
Exchanged<float> ReadVoltage(CommHandle port, int address);  // volts
Exchanged<double> ReadVersion(CommHandle port, int address);
Exchanged<std::uint16_t> ReadSensitivity(CommHandle port, int address);
Written WriteSensitivity(CommHandle port, int address, int value);
Written WriteAddress(CommHandle port, int address, int newAddress);
Written WriteBaudCode(CommHandle port, int address, int code);
// The window's search waits this long for each probe's reply.
inline constexpr unsigned kProbeWaitMs = 500;
// In factory mode the voltage is read this long after each good status poll.
inline constexpr auto kPauseBeforeVoltage = std::chrono::milliseconds(500);

// Reads the voltage register with a `waitMs` wait: did a valid reply come back?
Written ProbeAddress(CommHandle port, int address, unsigned waitMs = kProbeWaitMs);
