// tcp://: Modbus TCP to a protocol-converting gateway. Each RTU request goes out as a
// Modbus TCP request of a transaction of its own; each reply to it comes back as the RTU
// frame the gateway's serial line carried, so that the RTU judge weighs it as on any line.
// Frames of earlier transactions, late, are dropped; a stream that is no Modbus TCP is
// handed on as it came, for the judge to call garbled. A trace shows the frames as they
// went over the connection.
#include "serial/mbap.h"
#include "serial/network_line.h"

namespace {

class ModbusTcpLine final : public NetworkLine {
 public:
  explicit ModbusTcpLine(std::unique_ptr<NetSocket> socket) : NetworkLine(std::move(socket)) {}

  const std::vector<std::uint8_t>* WireBytes(FrameDirection direction) const override {
    return direction == FrameDirection::kSent ? &SentWire() : &ReadWire();
  }

 protected:
  std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> data) override {
    const auto transaction = static_cast<std::uint16_t>(transaction_ + 1);
    auto request = MbapRequest(data, transaction);
    if (!request) return {};
    transaction_ = transaction;
    return std::move(*request);
  }

  void Decode(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>&) override {
    stream_.insert(stream_.end(), wire.begin(), wire.end());
    for (;;) {
      MbapScan scan = ScanMbapReply(stream_, transaction_);
      switch (scan.kind) {
        case MbapScan::Kind::kIncomplete:
          return;
        case MbapScan::Kind::kFrame:
          data.insert(data.end(), scan.rtu.begin(), scan.rtu.end());
          break;
        case MbapScan::Kind::kOtherTransaction:
          break;
        case MbapScan::Kind::kNotModbus:
          data.insert(data.end(), stream_.begin(), stream_.end());
          stream_.clear();
          return;
      }
      stream_.erase(stream_.begin(), stream_.begin() + static_cast<long>(scan.length));
    }
  }

 private:
  std::uint16_t transaction_ = 0;
  std::vector<std::uint8_t> stream_;  // what came and is no whole frame yet
};

}  // namespace

std::unique_ptr<CommPort> OpenModbusTcpLine(std::unique_ptr<NetSocket> socket) {
  return std::make_unique<ModbusTcpLine>(std::move(socket));
}
