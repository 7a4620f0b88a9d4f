#include "serial/mbap.h"

#include "serial/rtu.h"

namespace {

// The unit id and a function code at least; the unit id and the longest PDU at most.
constexpr std::size_t kShortestFollowing = 2;
constexpr std::size_t kLongestFollowing = 254;
constexpr std::size_t kCrcLength = 2;
constexpr std::size_t kShortestRequest = 2 + kCrcLength;  // address, function, CRC

std::uint16_t WordAt(std::span<const std::uint8_t> bytes, std::size_t index) {
  return static_cast<std::uint16_t>(bytes[index] << 8 | bytes[index + 1]);
}

void AppendWord(std::vector<std::uint8_t>& bytes, std::size_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> MbapRequest(std::span<const std::uint8_t> rtuFrame,
                                                     std::uint16_t transaction) {
  if (rtuFrame.size() < kShortestRequest) return std::nullopt;
  const std::size_t body = rtuFrame.size() - kCrcLength;
  const std::uint16_t crc = ModbusCrc16(rtuFrame.data(), body);
  if (crc != WordAt(rtuFrame, body)) return std::nullopt;
  std::vector<std::uint8_t> request;
  request.reserve(kMbapHeader - 1 + body);
  AppendWord(request, transaction);
  AppendWord(request, 0);     // protocol: Modbus
  AppendWord(request, body);  // the unit id and the PDU
  request.insert(request.end(), rtuFrame.begin(), rtuFrame.begin() + static_cast<long>(body));
  return request;
}

MbapScan ScanMbapReply(std::span<const std::uint8_t> stream, std::uint16_t transaction) {
  MbapScan scan;
  if (stream.size() < kMbapHeader - 1) return scan;
  const std::size_t following = WordAt(stream, 4);
  if (WordAt(stream, 2) != 0 || following < kShortestFollowing || following > kLongestFollowing) {
    scan.kind = MbapScan::Kind::kNotModbus;
    return scan;
  }
  scan.length = kMbapHeader - 1 + following;
  if (stream.size() < scan.length) {
    scan.length = 0;
    return scan;
  }
  if (WordAt(stream, 0) != transaction) {
    scan.kind = MbapScan::Kind::kOtherTransaction;
    return scan;
  }
  scan.kind = MbapScan::Kind::kFrame;
  const auto frame = stream.subspan(kMbapHeader - 1, following);
  scan.rtu.assign(frame.begin(), frame.end());
  const std::uint16_t crc = ModbusCrc16(scan.rtu.data(), scan.rtu.size());
  AppendWord(scan.rtu, crc);
  return scan;
}
