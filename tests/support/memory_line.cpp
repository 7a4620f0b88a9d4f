#include "tests/support/memory_line.h"

#include <algorithm>
#include <deque>

#include "serial/rtu.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint16_t kAnsweredValue = 120;

// COMMTIMEOUTS of the real port: a read that comes up short ends after 5 ms + 5 ms a byte.
std::uint32_t ReadTimeoutMs(std::size_t asked) {
  return static_cast<std::uint32_t>(5 + 5 * asked);
}

bool IsGoodRead(std::span<const std::uint8_t> request) {
  if (request.size() != 8 || request[1] != kReadHolding) return false;
  const std::uint16_t crc = ModbusCrc16(request.data(), 6);
  return request[6] == (crc >> 8) && request[7] == (crc & 0xFF);
}

}  // namespace

Bytes WithCrc(Bytes frame) {
  const std::uint16_t crc = ModbusCrc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

struct MemoryLineState {
  MemoryLine::Responder responder;
  std::function<void(const MemoryRequest&)> onRequest;
  std::vector<MemoryRequest> requests;
  std::uint32_t nowMs = 0;
  int openPorts = 0;
};

namespace {

class MemoryPort final : public CommPort {
 public:
  MemoryPort(std::shared_ptr<MemoryLineState> state, int baudRate)
      : state_(std::move(state)), baudRate_(baudRate) {
    ++state_->openPorts;
  }
  ~MemoryPort() override { --state_->openPorts; }
  MemoryPort(const MemoryPort&) = delete;
  MemoryPort& operator=(const MemoryPort&) = delete;

  std::size_t Write(std::span<const std::uint8_t> bytes) override {
    MemoryRequest& request = state_->requests.emplace_back(
        MemoryRequest{baudRate_, Bytes(bytes.begin(), bytes.end()), state_->nowMs});
    if (state_->onRequest) state_->onRequest(request);
    const Bytes reply = state_->responder(bytes, baudRate_);
    input_.insert(input_.end(), reply.begin(), reply.end());
    return bytes.size();
  }

  std::size_t Read(std::span<std::uint8_t> bytes) override {
    const std::size_t count = std::min(bytes.size(), input_.size());
    std::copy_n(input_.begin(), count, bytes.begin());
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
    if (count < bytes.size()) state_->nowMs += ReadTimeoutMs(bytes.size());
    return count;
  }

  unsigned QueuedInput() override { return static_cast<unsigned>(input_.size()); }
  std::uint32_t TickCount() override { return state_->nowMs; }
  void Sleep(unsigned milliseconds) override { state_->nowMs += milliseconds; }

 private:
  std::shared_ptr<MemoryLineState> state_;
  int baudRate_;
  std::deque<std::uint8_t> input_;
};

}  // namespace

MemoryLine::MemoryLine(int address, int baudRate)
    : MemoryLine([address, baudRate](std::span<const std::uint8_t> request, int heardAt) {
        if (heardAt != baudRate || !IsGoodRead(request) || request[0] != address) return Bytes();
        return WithCrc({request[0], kReadHolding, 2, 0, kAnsweredValue});
      }) {}

MemoryLine::MemoryLine(Responder responder) : state_(std::make_shared<MemoryLineState>()) {
  state_->responder = std::move(responder);
}

CommHandle MemoryLine::Open(int baudRate) {
  return AdoptCommPort(std::make_unique<MemoryPort>(state_, baudRate), baudRate);
}

const std::vector<MemoryRequest>& MemoryLine::Requests() const {
  return state_->requests;
}

std::uint32_t MemoryLine::NowMs() const {
  return state_->nowMs;
}

int MemoryLine::OpenPorts() const {
  return state_->openPorts;
}

void MemoryLine::OnRequest(std::function<void(const MemoryRequest&)> hook) {
  state_->onRequest = std::move(hook);
}
