#include "serial/network_line.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "serial/comm_port_backend.h"

namespace {

using Clock = NetSocket::Clock;
using std::chrono::milliseconds;

// The time-outs of a serial port, as CommPort states them.
constexpr milliseconds kReadTotalConstant{5};
constexpr milliseconds kReadTotalPerByte{5};
constexpr milliseconds kReadInterval{100};
constexpr milliseconds kWriteTotalConstant{100};
constexpr milliseconds kWriteTotalPerByte{50};

// What a serial driver's input queue holds; a server that floods us loses the rest, as a
// full queue would. The same bound keeps the record of what came for a trace.
constexpr std::size_t kMostQueued = 4096;

Clock::time_point WriteDeadline(std::size_t dataBytes) {
  return Clock::now() + kWriteTotalConstant +
         kWriteTotalPerByte * static_cast<milliseconds::rep>(dataBytes);
}

void AppendBounded(std::vector<std::uint8_t>& to, std::span<const std::uint8_t> bytes) {
  const std::size_t room = kMostQueued - std::min(kMostQueued, to.size());
  to.insert(to.end(), bytes.begin(),
            bytes.begin() + static_cast<long>(std::min(room, bytes.size())));
}

class FailureRecord {
 public:
  void Note(const std::string& url, const CommError& error) {
    std::lock_guard lock(mutex_);
    failures_[url] = error;
  }
  CommError Last(const std::string& url) {
    std::lock_guard lock(mutex_);
    const auto it = failures_.find(url);
    return it == failures_.end() ? CommError{} : it->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, CommError> failures_;
};

FailureRecord& Failures() {
  static FailureRecord record;
  return record;
}

std::unique_ptr<CommPort> Connected(const LineUrl& url, int baudRate) {
  CommError error;
  auto socket = NetSocket::Connect(url.host, url.port, kConnectTimeout, error);
  if (!socket) {
    SetLastCommError(std::move(error));
    return nullptr;
  }
  switch (url.kind) {
    case LineUrlKind::kRfc2217:
      return OpenRfc2217Line(std::move(socket), baudRate);
    case LineUrlKind::kSocket:
      return OpenSocketLine(std::move(socket));
    case LineUrlKind::kModbusTcp:
      return OpenModbusTcpLine(std::move(socket));
  }
  return nullptr;
}

}  // namespace

std::size_t NetworkLine::Write(std::span<const std::uint8_t> data) {
  sentWire_ = Encode(data);
  const std::size_t whole = sentWire_.size();
  if (whole == 0) return 0;
  const std::size_t sent = socket_->Send(sentWire_, WriteDeadline(data.size()));
  sentWire_.resize(sent);
  // Cut short: about as much of the data as the bytes sent carried.
  return sent == whole ? data.size() : data.size() * sent / whole;
}

std::size_t NetworkLine::Read(std::span<std::uint8_t> data) {
  const auto total = Clock::now() + kReadTotalConstant +
                     kReadTotalPerByte * static_cast<milliseconds::rep>(data.size());
  auto deadline = total;
  std::size_t got = TakeInput(data);
  while (got < data.size() && !LineGone() && socket_->WaitReadable(deadline)) {
    Pump();
    const std::size_t more = TakeInput(data.subspan(got));
    if (more > 0) deadline = std::min(total, Clock::now() + kReadInterval);
    got += more;
  }
  readWire_.swap(comingWire_);
  comingWire_.clear();
  return got;
}

unsigned NetworkLine::QueuedInput() {
  Pump();
  return static_cast<unsigned>(input_.size());
}

bool NetworkLine::SendWire(std::span<const std::uint8_t> wire, std::size_t dataBytes) {
  return socket_->Send(wire, WriteDeadline(dataBytes)) == wire.size();
}

void NetworkLine::Pump() {
  std::array<std::uint8_t, 1024> buffer;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> answer;
  while (const std::size_t count = socket_->Receive(buffer)) {
    const auto wire = std::span(buffer).first(count);
    AppendBounded(comingWire_, wire);
    Decode(wire, data, answer);
  }
  AppendBounded(input_, data);
  if (!answer.empty()) SendWire(answer, 0);
}

std::size_t NetworkLine::TakeInput(std::span<std::uint8_t> data) {
  const std::size_t count = std::min(data.size(), input_.size());
  std::copy_n(input_.begin(), count, data.begin());
  input_.erase(input_.begin(), input_.begin() + static_cast<long>(count));
  return count;
}

std::unique_ptr<CommPort> OpenNetworkLine(const std::string& url, int baudRate) {
  const LineUrlParse parse = ParseLineUrl(url);
  if (!parse.url) {
    SetLastCommError(CommErrorKind::kNotFound, url + ": " + parse.problem);
    return nullptr;
  }
  auto line = Connected(*parse.url, baudRate);
  Failures().Note(url, line ? CommError{} : LastCommError());
  return line;
}

CommError LastNetworkLineFailure(const std::string& url) {
  return Failures().Last(url);
}
