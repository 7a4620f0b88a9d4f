// socket://: the RTU frames exactly as on a serial line, to a gateway in transparent mode.
// The gateway's rate is its own; there is nothing to set up.
#include "serial/network_line.h"

namespace {

class SocketLine final : public NetworkLine {
 public:
  explicit SocketLine(std::unique_ptr<NetSocket> socket) : NetworkLine(std::move(socket)) {}

 protected:
  std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> data) override {
    return {data.begin(), data.end()};
  }
  void Decode(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>&) override {
    data.insert(data.end(), wire.begin(), wire.end());
  }
};

}  // namespace

std::unique_ptr<CommPort> OpenSocketLine(std::unique_ptr<NetSocket> socket) {
  return std::make_unique<SocketLine>(std::move(socket));
}
