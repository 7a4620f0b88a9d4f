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

ExchangeOutcome ReadRegisters(CommHandle port, int address, std::uint8_t first, std::uint8_t count,
                              unsigned waitMs) {
  const std::size_t replyLength = count == 2 ? kReadTwoReply : kReadOneReply;
  return RtuExchange(port, {LowByte(address), kReadHolding, 0, first, 0, count}, replyLength,
                     waitMs);
}

// The operation's value from a good reply, made by `value`.
template <typename Make>
auto Valued(ExchangeOutcome outcome, Make value) -> Exchanged<decltype(value(*outcome.reply))> {
  if (!outcome.good()) return {std::nullopt, std::move(outcome)};
  auto made = value(*outcome.reply);
  return {std::move(made), std::move(outcome)};
}

Written Done(ExchangeOutcome outcome) {
  return Valued(std::move(outcome), [](const RtuReply&) { return std::monostate{}; });
}

// The value's high byte is always 0 and its low byte the low 8 bits of the value.
Written WriteRegister(CommHandle port, int address, std::uint8_t reg, int value) {
  return Done(RtuExchange(port, {LowByte(address), kWriteSingle, 0, reg, 0, LowByte(value)},
                          kWriteReply, kReplyWaitMs));
}

}  // namespace

int BaudCode(int baudRate) {
  const auto code = std::find(kBaudRates.begin(), kBaudRates.end(), baudRate);
  return code == kBaudRates.end() ? -1 : static_cast<int>(code - kBaudRates.begin());
}

Exchanged<DetectorStatus> ReadStatus(CommHandle port, int address) {
  return Valued(ReadRegisters(port, address, reg::kLeakState, 2, kReplyWaitMs),
                [](const RtuReply& reply) {
                  return DetectorStatus{(reply.Register(0) & 0x01) != 0, reply.Register(1)};
                });
}

Exchanged<float> ReadVoltage(CommHandle port, int address) {
  // Kept in single precision.
  return Valued(ReadRegisters(port, address, reg::kVoltage, 1, kReplyWaitMs),
                [](const RtuReply& reply) { return static_cast<float>(reply.Register(0) * 0.1); });
}

Exchanged<double> ReadVersion(CommHandle port, int address) {
  return Valued(ReadRegisters(port, address, reg::kVersion, 1, kReplyWaitMs),
                [](const RtuReply& reply) { return reply.Register(0) * 0.1; });
}

Exchanged<std::uint16_t> ReadSensitivity(CommHandle port, int address) {
  return Valued(ReadRegisters(port, address, reg::kSensitivity, 1, kReplyWaitMs),
                [](const RtuReply& reply) { return reply.Register(0); });
}

Written WriteSensitivity(CommHandle port, int address, int value) {
  return WriteRegister(port, address, reg::kSensitivity, value);
}

Written WriteAddress(CommHandle port, int address, int newAddress) {
  return WriteRegister(port, address, reg::kSlaveAddress, newAddress);
}

Written WriteBaudCode(CommHandle port, int address, int code) {
  return WriteRegister(port, address, reg::kBaudCode, code);
}

Written ProbeAddress(CommHandle port, int address, unsigned waitMs) {
  return Done(ReadRegisters(port, address, reg::kVoltage, 1, waitMs));
}
