#include "device/detector.h"

#include <algorithm>

#include "serial/rtu.h"

namespace {

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kWriteSingle = 0x06;
constexpr unsigned kReplyWaitMs = 1000;
constexpr std::size_t kReadOneReply = 7;
constexpr std::size_t kReadTwoReply = 9;
constexpr std::size_t kWriteReply = 8;

std::uint8_t LowByte(int value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

std::optional<RtuReply> ReadRegisters(CommHandle port, int address, std::uint8_t first,
                                      std::uint8_t count, unsigned waitMs) {
  const std::size_t replyLength = count == 2 ? kReadTwoReply : kReadOneReply;
  return RtuExchange(port, {LowByte(address), kReadHolding, 0, first, 0, count}, replyLength,
                     waitMs);
}

std::optional<std::uint16_t> ReadRegister(CommHandle port, int address, std::uint8_t reg) {
  auto reply = ReadRegisters(port, address, reg, 1, kReplyWaitMs);
  if (!reply) return std::nullopt;
  return reply->Register(0);
}

// The value's high byte is always 0 and its low byte the low 8 bits of the value.
bool WriteRegister(CommHandle port, int address, std::uint8_t reg, int value) {
  return RtuExchange(port, {LowByte(address), kWriteSingle, 0, reg, 0, LowByte(value)}, kWriteReply,
                     kReplyWaitMs)
      .has_value();
}

}  // namespace

int BaudCode(int baudRate) {
  const auto code = std::find(kBaudRates.begin(), kBaudRates.end(), baudRate);
  return code == kBaudRates.end() ? -1 : static_cast<int>(code - kBaudRates.begin());
}

std::optional<DetectorStatus> ReadStatus(CommHandle port, int address) {
  auto reply = ReadRegisters(port, address, reg::kLeakState, 2, kReplyWaitMs);
  if (!reply) return std::nullopt;
  return DetectorStatus{(reply->Register(0) & 0x01) != 0, reply->Register(1)};
}

std::optional<float> ReadVoltage(CommHandle port, int address) {
  auto value = ReadRegister(port, address, reg::kVoltage);
  if (!value) return std::nullopt;
  return static_cast<float>(*value * 0.1);  // kept in single precision
}

std::optional<double> ReadVersion(CommHandle port, int address) {
  auto value = ReadRegister(port, address, reg::kVersion);
  if (!value) return std::nullopt;
  return *value * 0.1;
}

std::optional<std::uint16_t> ReadSensitivity(CommHandle port, int address) {
  return ReadRegister(port, address, reg::kSensitivity);
}

bool WriteSensitivity(CommHandle port, int address, int value) {
  return WriteRegister(port, address, reg::kSensitivity, value);
}

bool WriteAddress(CommHandle port, int address, int newAddress) {
  return WriteRegister(port, address, reg::kSlaveAddress, newAddress);
}

bool WriteBaudCode(CommHandle port, int address, int code) {
  return WriteRegister(port, address, reg::kBaudCode, code);
}

bool ProbeAddress(CommHandle port, int address, unsigned waitMs) {
  return ReadRegisters(port, address, reg::kVoltage, 1, waitMs).has_value();
}
