#include "tools/sim/detector_model.h"

#include <utility>

#include "device/detector.h"
#include "serial/line_time.h"
#include "serial/rtu.h"

namespace {

struct FaultEntry {
  Fault fault;
  std::string_view name;
};

constexpr std::array<FaultEntry, 13> kFaults = {{
    {Fault::kNone, "none"},
    {Fault::kSilent, "silent"},
    {Fault::kLate, "late"},
    {Fault::kBadCrc, "bad-crc"},
    {Fault::kStray, "stray"},
    {Fault::kStrayLate, "stray-late"},
    {Fault::kException, "exception"},
    {Fault::kBytewise, "bytewise"},
    {Fault::kWrongAddress, "wrong-address"},
    {Fault::kWrongValue, "wrong-value"},
    {Fault::kWrongCount, "wrong-count"},
    {Fault::kAnswerAll, "answer-all"},
    {Fault::kEcho, "echo"},
}};

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kWriteSingle = 0x06;
constexpr std::size_t kRequestLength = 8;
constexpr unsigned kMaxReadCount = 125;  // what one Modbus read may ask for

std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame) {
  const std::uint16_t crc = ModbusCrc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

// The smallest frame is an address, a function code and the CRC.
bool HasGoodCrc(std::span<const std::uint8_t> frame) {
  const auto size = static_cast<unsigned>(frame.size());
  return size >= 4 && IsGoodRtuReply(frame, size, size);
}

std::uint16_t Word(std::span<const std::uint8_t> frame, std::size_t at) {
  return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
}

std::string Hex2(unsigned value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4 & 0xF], kDigits[value & 0xF]};
}

Response Silence(std::string note) {
  return Response{{}, std::nullopt, std::move(note)};
}

// A real detector takes writes only to these; the rest of the map is read-only.
bool IsWritableRegister(unsigned number) {
  return number == reg::kSensitivity || number == reg::kSlaveAddress || number == reg::kBaudCode;
}

bool IsAcceptedValue(unsigned number, unsigned value) {
  if (number == reg::kSensitivity) return value >= 1 && value <= 3;
  return value <= MaxStorableValue(number);
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view name) {
  for (const auto& entry : kFaults) {
    if (entry.name == name) return entry.fault;
  }
  return std::nullopt;
}

std::string_view FaultName(Fault fault) {
  for (const auto& entry : kFaults) {
    if (entry.fault == fault) return entry.name;
  }
  return "?";
}

std::string FaultNames() {
  std::string names;
  for (const auto& entry : kFaults) {
    if (!names.empty()) names += ", ";
    names += entry.name;
  }
  return names;
}

std::uint8_t OtherAddress(std::uint8_t own) {
  return own == kOtherAddress ? kOtherAddress ^ 1 : kOtherAddress;
}

bool IsMappedRegister(unsigned number) {
  return number <= reg::kVoltage || number == reg::kSlaveAddress || number == reg::kBaudCode;
}

unsigned MaxStorableValue(unsigned number) {
  if (number == reg::kSlaveAddress) return 255;
  if (number == reg::kBaudCode) return kBaudRates.size() - 1;
  return 0xFFFF;
}

DetectorModel::DetectorModel(const DetectorStart& start) {
  registers_[reg::kLeakState] = start.leak;
  registers_[reg::kAlarmType] = start.alarm;
  registers_[reg::kSensitivity] = start.sensitivity;
  registers_[reg::kVersion] = start.version;
  registers_[reg::kVoltage] = start.voltage;
  registers_[reg::kSlaveAddress] = start.address;
  registers_[reg::kBaudCode] = start.baudCode;
}

std::uint8_t DetectorModel::Address() const {
  return static_cast<std::uint8_t>(registers_[reg::kSlaveAddress]);
}

int DetectorModel::BaudRate() const {
  const std::uint16_t code = registers_[reg::kBaudCode];
  return code < kBaudRates.size() ? kBaudRates[code] : 0;
}

std::uint8_t DetectorModel::ReplyAddress() const {
  return fault_ == Fault::kWrongAddress ? OtherAddress(Address()) : Address();
}

Response DetectorModel::Respond(std::span<const std::uint8_t> frame, int lineBaud) const {
  if (!HasGoodCrc(frame)) {
    return Silence("ignored: not a frame (" + std::to_string(frame.size()) + " bytes)");
  }
  const bool answersAll = fault_ == Fault::kAnswerAll;
  if (frame[0] != Address() && !answersAll) {
    return Silence("ignored: for address " + std::to_string(frame[0]));
  }
  if (lineBaud != BaudRate() && !answersAll) {
    return Silence("ignored: line at " + std::to_string(lineBaud) + " baud, detector at " +
                   std::to_string(BaudRate()));
  }
  if (fault_ == Fault::kSilent) return Silence("no reply (fault silent)");
  const std::uint8_t address = ReplyAddress();
  const std::uint8_t function = frame[1];
  if (fault_ == Fault::kException) {
    return Refuse(address, function, kDeviceFailure, "fault", lineBaud);
  }
  if (function != kReadHolding && function != kWriteSingle) {
    return Refuse(address, function, kIllegalFunction, "function " + Hex2(function), lineBaud);
  }
  if (frame.size() != kRequestLength) {
    return Silence("ignored: " + std::to_string(frame.size()) + "-byte request");
  }
  if (function == kReadHolding) return Read(address, Word(frame, 2), Word(frame, 4), lineBaud);
  return Write(address, Word(frame, 2), Word(frame, 4), lineBaud);
}

Response DetectorModel::Read(std::uint8_t address, std::uint16_t first, std::uint16_t count,
                             int lineBaud) const {
  std::uint8_t refusal = 0;
  if (count == 0 || count > kMaxReadCount) {
    refusal = kIllegalValue;
  } else {
    for (unsigned number = first; number < first + count; ++number) {
      if (!IsMappedRegister(number)) refusal = kIllegalAddress;
    }
  }
  if (refusal != 0) {
    return Refuse(address, kReadHolding, refusal,
                  "read " + std::to_string(count) + " from " + std::to_string(first), lineBaud);
  }
  // No read of the map is longer than five registers, so even a wrong count fits its byte.
  const unsigned byteCount = 2 * count * (fault_ == Fault::kWrongCount ? kWrongCountFactor : 1);
  std::vector<std::uint8_t> reply = {address, kReadHolding, static_cast<std::uint8_t>(byteCount)};
  for (unsigned number = first; number < first + count; ++number) {
    reply.push_back(static_cast<std::uint8_t>(registers_[number] >> 8));
    reply.push_back(static_cast<std::uint8_t>(registers_[number] & 0xFF));
  }
  Response response = Shape(WithCrc(std::move(reply)), lineBaud);
  response.note = "read " + std::to_string(count) + " from " + std::to_string(first);
  return response;
}

Response DetectorModel::Write(std::uint8_t address, std::uint16_t number, std::uint16_t value,
                              int lineBaud) const {
  const std::string what = "write " + std::to_string(number) + " = " + std::to_string(value);
  if (!IsWritableRegister(number)) {
    return Refuse(address, kWriteSingle, kIllegalAddress, what, lineBaud);
  }
  if (!IsAcceptedValue(number, value)) {
    return Refuse(address, kWriteSingle, kIllegalValue, what, lineBaud);
  }
  const bool lies = fault_ == Fault::kWrongValue;
  const std::uint16_t confirmed = lies ? static_cast<std::uint16_t>(value + 1) : value;
  Response response = Shape(
      WithCrc({address, kWriteSingle, static_cast<std::uint8_t>(number >> 8),
               static_cast<std::uint8_t>(number & 0xFF), static_cast<std::uint8_t>(confirmed >> 8),
               static_cast<std::uint8_t>(confirmed & 0xFF)}),
      lineBaud);
  if (lies) {
    response.note = what + " confirmed as " + std::to_string(confirmed) + ", not carried out";
    return response;
  }
  response.write = RegisterWrite{static_cast<std::uint8_t>(number), value};
  response.note = what;
  return response;
}

Response DetectorModel::Refuse(std::uint8_t address, std::uint8_t function, std::uint8_t code,
                               const std::string& what, int lineBaud) const {
  Response response =
      Shape(WithCrc({address, static_cast<std::uint8_t>(function | 0x80), code}), lineBaud);
  response.note = "exception " + Hex2(code) + ": " + what;
  return response;
}

// Puts a correct reply on the line as the current fault has it.
Response DetectorModel::Shape(std::vector<std::uint8_t> reply, int lineBaud) const {
  Response response;
  switch (fault_) {
    case Fault::kLate:
      response.parts.push_back({kLateDelay, std::move(reply)});
      break;
    case Fault::kBadCrc:
      reply.back() ^= 0xFF;
      response.parts.push_back({{}, std::move(reply)});
      break;
    case Fault::kStray:
      reply.push_back(kStrayByte);
      response.parts.push_back({{}, std::move(reply)});
      break;
    case Fault::kStrayLate: {
      // Delays count from the request's end: past the reply's own line time, then the pause.
      const std::chrono::milliseconds replyTime(LineTimeMs(reply.size(), lineBaud));
      response.parts.push_back({{}, std::move(reply)});
      response.parts.push_back({replyTime + kStrayLateDelay, {kStrayByte}});
      break;
    }
    case Fault::kBytewise:
      for (std::size_t i = 0; i < reply.size(); ++i) {
        response.parts.push_back({kBytewiseGap * static_cast<int>(i), {reply[i]}});
      }
      break;
    default:
      response.parts.push_back({{}, std::move(reply)});
      break;
  }
  return response;
}
