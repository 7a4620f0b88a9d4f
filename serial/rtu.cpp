#include "serial/rtu.h"

#include <algorithm>

#include "serial/begun_reply.h"
#include "serial/comm_port_backend.h"

namespace {

// The two byte tables published with the Modbus RTU CRC: one table step per data byte.
constexpr std::array<std::uint8_t, 256> kCrcHighTable = {
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
};

constexpr std::array<std::uint8_t, 256> kCrcLowTable = {
    0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2, 0xC6, 0x06, 0x07, 0xC7, 0x05, 0xC5, 0xC4, 0x04,
    0xCC, 0x0C, 0x0D, 0xCD, 0x0F, 0xCF, 0xCE, 0x0E, 0x0A, 0xCA, 0xCB, 0x0B, 0xC9, 0x09, 0x08, 0xC8,
    0xD8, 0x18, 0x19, 0xD9, 0x1B, 0xDB, 0xDA, 0x1A, 0x1E, 0xDE, 0xDF, 0x1F, 0xDD, 0x1D, 0x1C, 0xDC,
    0x14, 0xD4, 0xD5, 0x15, 0xD7, 0x17, 0x16, 0xD6, 0xD2, 0x12, 0x13, 0xD3, 0x11, 0xD1, 0xD0, 0x10,
    0xF0, 0x30, 0x31, 0xF1, 0x33, 0xF3, 0xF2, 0x32, 0x36, 0xF6, 0xF7, 0x37, 0xF5, 0x35, 0x34, 0xF4,
    0x3C, 0xFC, 0xFD, 0x3D, 0xFF, 0x3F, 0x3E, 0xFE, 0xFA, 0x3A, 0x3B, 0xFB, 0x39, 0xF9, 0xF8, 0x38,
    0x28, 0xE8, 0xE9, 0x29, 0xEB, 0x2B, 0x2A, 0xEA, 0xEE, 0x2E, 0x2F, 0xEF, 0x2D, 0xED, 0xEC, 0x2C,
    0xE4, 0x24, 0x25, 0xE5, 0x27, 0xE7, 0xE6, 0x26, 0x22, 0xE2, 0xE3, 0x23, 0xE1, 0x21, 0x20, 0xE0,
    0xA0, 0x60, 0x61, 0xA1, 0x63, 0xA3, 0xA2, 0x62, 0x66, 0xA6, 0xA7, 0x67, 0xA5, 0x65, 0x64, 0xA4,
    0x6C, 0xAC, 0xAD, 0x6D, 0xAF, 0x6F, 0x6E, 0xAE, 0xAA, 0x6A, 0x6B, 0xAB, 0x69, 0xA9, 0xA8, 0x68,
    0x78, 0xB8, 0xB9, 0x79, 0xBB, 0x7B, 0x7A, 0xBA, 0xBE, 0x7E, 0x7F, 0xBF, 0x7D, 0xBD, 0xBC, 0x7C,
    0xB4, 0x74, 0x75, 0xB5, 0x77, 0xB7, 0xB6, 0x76, 0x72, 0xB2, 0xB3, 0x73, 0xB1, 0x71, 0x70, 0xB0,
    0x50, 0x90, 0x91, 0x51, 0x93, 0x53, 0x52, 0x92, 0x96, 0x56, 0x57, 0x97, 0x55, 0x95, 0x94, 0x54,
    0x9C, 0x5C, 0x5D, 0x9D, 0x5F, 0x9F, 0x9E, 0x5E, 0x5A, 0x9A, 0x9B, 0x5B, 0x99, 0x59, 0x58, 0x98,
    0x88, 0x48, 0x49, 0x89, 0x4B, 0x8B, 0x8A, 0x4A, 0x4E, 0x8E, 0x8F, 0x4F, 0x8D, 0x4D, 0x4C, 0x8C,
    0x44, 0x84, 0x85, 0x45, 0x87, 0x47, 0x46, 0x86, 0x82, 0x42, 0x43, 0x83, 0x41, 0x81, 0x80, 0x40,
};

constexpr std::size_t kExceptionReply = 5;
constexpr std::uint8_t kExceptionBit = 0x80;
constexpr std::uint8_t kReadHolding = 0x03;

bool CrcMatches(std::span<const std::uint8_t> frame) {
  const std::size_t body = frame.size() - 2;
  const std::uint16_t received = static_cast<std::uint16_t>(frame[body] << 8 | frame[body + 1]);
  return ModbusCrc16(frame.data(), body) == received;
}

// An adapter that echoes puts the request on the line first. A reply to a read differs from
// the request within its first three bytes; a write's reply repeats the request, so for a
// write only twice the reply's length queued (the echo, then the reply) shows an echo.
bool BeginsWithRequest(std::span<const std::uint8_t> request, std::span<const std::uint8_t> read,
                       std::size_t expectedLength, unsigned queuedCount) {
  const std::size_t compared = std::min(request.size(), expectedLength);
  const bool repeatsRequest = expectedLength == request.size();
  if (repeatsRequest && queuedCount < expectedLength + request.size()) return false;
  return read.size() >= compared &&
         std::equal(read.begin(), read.begin() + static_cast<std::ptrdiff_t>(compared),
                    request.begin());
}

bool IsExceptionFrame(std::span<const std::uint8_t> read) {
  return read.size() == kExceptionReply && (read[1] & kExceptionBit) != 0 && CrcMatches(read);
}

// Whether a well-formed frame answers the request: the slave asked, the function asked (or,
// for an exception, its exception form), and what the function's reply carries back.
ExchangeResult Answers(std::span<const std::uint8_t> request, std::span<const std::uint8_t> frame) {
  if (frame[0] != request[0]) return ExchangeResult::kWrongAddress;
  if (IsExceptionFrame(frame)) {
    return frame[1] == (request[1] | kExceptionBit) ? ExchangeResult::kException
                                                    : ExchangeResult::kWrongFunction;
  }
  if (frame[1] != request[1]) return ExchangeResult::kWrongFunction;
  if (request[1] == kReadHolding) {
    const unsigned registers = static_cast<unsigned>(request[4] << 8 | request[5]);
    return frame[2] == 2 * registers ? ExchangeResult::kGood : ExchangeResult::kWrongByteCount;
  }
  // A write's reply repeats its register and value.
  return std::equal(request.begin() + 2, request.begin() + 6, frame.begin() + 2)
             ? ExchangeResult::kGood
             : ExchangeResult::kWrongConfirmation;
}

// Reads what the adapter echoed of the request; false, with the outcome set, when it was
// not the request.
bool TakeEcho(CommHandle port, const RtuRequest& request, unsigned waitMs,
              ExchangeOutcome& outcome) {
  WaitForInput(port, static_cast<std::uint16_t>(request.size()), waitMs);
  RtuRequest echo{};
  const std::size_t got = ReadComm(port, echo);
  outcome.received.assign(echo.begin(), echo.begin() + static_cast<std::ptrdiff_t>(got));
  if (got == request.size() && echo == request) return true;
  outcome.result = got == 0 ? ExchangeResult::kNoReply : ExchangeResult::kWrongEcho;
  return false;
}

// When the last byte read arrived: during the wait, when the queue last grew; after it,
// when the read returned.
std::chrono::steady_clock::time_point LastArrival(const InputWait& wait, std::size_t read,
                                                  std::chrono::steady_clock::time_point readEnd) {
  return read > wait.queued || !wait.lastArrival ? readEnd : *wait.lastArrival;
}

}  // namespace

std::uint16_t ModbusCrc16(const std::uint8_t* data, std::size_t length) {
  std::uint8_t first = 0xFF;
  std::uint8_t second = 0xFF;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t index = first ^ data[i];
    first = second ^ kCrcHighTable[index];
    second = kCrcLowTable[index];
  }
  return static_cast<std::uint16_t>(first << 8 | second);
}

RtuRequest BuildRtuRequest(const RtuRequestHead& head) {
  RtuRequest request{};
  std::copy(head.begin(), head.end(), request.begin());
  const std::uint16_t crc = ModbusCrc16(head.data(), head.size());
  request[6] = static_cast<std::uint8_t>(crc >> 8);
  request[7] = static_cast<std::uint8_t>(crc & 0xFF);
  return request;
}

bool IsGoodRtuReply(std::span<const std::uint8_t> read, std::size_t expectedLength,
                    unsigned queuedCount) {
  if (expectedLength < 2 || read.size() != expectedLength || queuedCount != expectedLength) {
    return false;
  }
  return CrcMatches(read);
}

ExchangeResult ClassifyRtuReply(std::span<const std::uint8_t> request,
                                std::span<const std::uint8_t> read, std::size_t expectedLength,
                                unsigned queuedCount) {
  if (IsGoodRtuReply(read, expectedLength, queuedCount)) return Answers(request, read);
  if (read.empty()) return ExchangeResult::kNoReply;
  if (BeginsWithRequest(request, read, expectedLength, queuedCount)) return ExchangeResult::kEcho;
  if (IsExceptionFrame(read)) return Answers(request, read);
  if (queuedCount > expectedLength) return ExchangeResult::kTooLong;
  if (read.size() < expectedLength || queuedCount < expectedLength) return ExchangeResult::kShort;
  return ExchangeResult::kBadCrc;
}

ExchangeOutcome RtuExchange(CommHandle port, const RtuRequestHead& head, std::size_t replyLength,
                            unsigned waitMs) {
  ExchangeOutcome outcome;
  outcome.expected = replyLength;
  outcome.waitMs = waitMs;
  if (replyLength > kMaxRtuReply) return outcome;
  const RtuRequest request = BuildRtuRequest(head);
  outcome.stale = DiscardQueuedInput(port);
  outcome.sent.assign(request.begin(), request.end());
  WriteComm(port, request);
  const auto written = LastCommIoTime();
  if (CommLocalEcho(port) && !TakeEcho(port, request, waitMs, outcome)) {
    if (CommLineGone(port)) outcome.result = ExchangeResult::kLineGone;
    return outcome;
  }

  const auto length = static_cast<std::uint16_t>(replyLength);
  InputWait wait = CommSilenceEndsWait(port) ? WaitForInputUntilTimeOut(port, length, waitMs)
                                             : WaitForInputTimed(port, length, waitMs);
  if (CommReadsBegunReply(port)) wait = AwaitRestOfReply(port, replyLength, wait);
  RtuReply reply;
  // Read even after a time-out: the port's read time-outs end it.
  if (wait.queued > 0 || !CommSilenceEndsWait(port)) {
    reply.length = ReadComm(port, std::span(reply.bytes).first(replyLength));
  }
  const auto read = std::span(reply.bytes).first(reply.length);
  outcome.queued = wait.queued;
  outcome.received.insert(outcome.received.end(), read.begin(), read.end());
  if (!read.empty()) {
    outcome.replyTime = std::chrono::duration_cast<std::chrono::milliseconds>(
        LastArrival(wait, read.size(), LastCommIoTime()) - written);
  }
  outcome.result = CommLineGone(port) ? ExchangeResult::kLineGone
                                      : ClassifyRtuReply(request, read, replyLength, wait.queued);
  if (outcome.result == ExchangeResult::kException) outcome.exceptionCode = read[2];
  if (outcome.good()) outcome.reply = reply;
  return outcome;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}
