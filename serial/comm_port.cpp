#include "serial/comm_port.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/comm_port_backend.h"
#include "serial/frame_observer.h"
#include "serial/line_url.h"
#include "serial/network_line.h"
#include "serial/port_table.h"

CommHandle g_commHandle;

namespace {

// More than any reply and its echo: a line that keeps talking is not drained for ever.
constexpr std::size_t kMostStaleBytes = 256;

std::chrono::steady_clock::time_point& ThreadIoTime() {
  thread_local std::chrono::steady_clock::time_point at;
  return at;
}

// When this thread's write or read returned, before any observer ran.
std::chrono::steady_clock::time_point NoteIoTime() {
  return ThreadIoTime() = std::chrono::steady_clock::now();
}

// What a trace shows of a write or read: the bytes that went over the wire, where the line
// wraps the data in a protocol of its own.
std::span<const std::uint8_t> AsSeen(const CommPort* port, FrameDirection direction,
                                     std::span<const std::uint8_t> data) {
  const std::vector<std::uint8_t>* wire = port ? port->WireBytes(direction) : nullptr;
  return wire ? std::span<const std::uint8_t>(*wire) : data;
}

CommError& ThreadCommError() {
  thread_local CommError error;
  return error;
}

constexpr unsigned kWaitPassMs = 2;

// One look at the input queue, as the driver's status query gives it.
void LookAtQueue(CommPort& port, InputWait& wait) {
  const unsigned queued = port.QueuedInput();
  if (queued > wait.queued) wait.lastArrival = std::chrono::steady_clock::now();
  wait.queued = queued;
}

}  // namespace

std::uint32_t CommPort::TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CommPort::Sleep(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const CommError& LastCommError() {
  return ThreadCommError();
}

void SetLastCommError(CommErrorKind kind, std::string message) {
  SetLastCommError(CommError{.kind = kind, .message = std::move(message)});
}

void SetLastCommError(CommError error) {
  ThreadCommError() = std::move(error);
}

bool IsConnectionFailure(CommErrorKind kind) {
  return kind == CommErrorKind::kConnectionRefused || kind == CommErrorKind::kConnectionTimedOut ||
         kind == CommErrorKind::kHostNotFound || kind == CommErrorKind::kNetworkUnreachable;
}

CommHandle OpenCommDevice(const std::string& path, int baudRate) {
  SetLastCommError(CommErrorKind::kNone, {});
  auto port = IsLineUrl(path) ? OpenNetworkLine(path, baudRate) : OpenPlatformPort(path, baudRate);
  if (!port) ThreadCommError().device = path;
  return port ? AdoptCommPort(std::move(port), baudRate) : CommHandle();
}

CommError InspectCommPort(int portNumber) {
  const std::string path = PlatformPortPath(portNumber);
  if (path.empty())
    return CommError{.kind = CommErrorKind::kNotFound, .message = "no serial device"};
  CommError error = IsLineUrl(path) ? LastNetworkLineFailure(path) : InspectPlatformPort(path);
  error.device = path;
  return error;
}

CommHandle OpenCommPort(int portNumber, int baudRate) {
  const std::string path = PlatformPortPath(portNumber);
  if (path.empty()) {
    SetLastCommError(CommErrorKind::kNotFound,
                     "no serial device for COM" + std::to_string(portNumber));
    return CommHandle();
  }
  return OpenCommDevice(path, baudRate);
}

ResolvedPort ResolveCommPort(int portNumber) {
  ResolvedPort port = ResolveCommDevice(PlatformPortPath(portNumber));
  port.portNumber = portNumber;
  if (const auto link = PlatformPortLink(portNumber)) {
    port.linked = true;
    port.linkIdentity = link->identity;
  }
  return port;
}

ResolvedPort ResolveCommDevice(const std::string& path) {
  if (IsLineUrl(path)) {
    // A gateway has no identity to check; whatever answers at its address is it.
    const auto url = ParseLineUrl(path).url;
    return {.device = path,
            .rateFixed = url && url->RateFixed(),
            .gatewayBaud = url ? url->gatewayBaud : 0};
  }
  return {.device = path, .identity = path.empty() ? std::string() : PlatformDeviceIdentity(path)};
}

CommHandle OpenResolvedPort(const ResolvedPort& port, int baudRate) {
  if (port.device.empty()) {
    SetLastCommError(CommErrorKind::kNotFound,
                     "no serial device for COM" + std::to_string(port.portNumber));
    return CommHandle();
  }
  if (!port.identity.empty()) {
    const std::string now = PlatformDeviceIdentity(port.device);
    if (!now.empty() && now != port.identity) {
      SetLastCommError(CommError{.kind = CommErrorKind::kReplaced,
                                 .message = "another device is now " + port.device,
                                 .device = port.device});
      return CommHandle();
    }
  }
  return OpenCommDevice(port.device, baudRate);
}

CommHandle ReopenResolvedPort(ResolvedPort& port, int baudRate) {
  if (port.linked) {
    const auto link = PlatformPortLink(port.portNumber);
    if (!link) {
      SetLastCommError(CommErrorKind::kNotFound,
                       "the link com" + std::to_string(port.portNumber) + " is gone");
      return CommHandle();
    }
    // A link the user made anew names COM n's device from now on, the adapter's new name
    // say; the link that was there all along still names the device it did, or none.
    if (link->identity != port.linkIdentity) {
      port = ResolveCommPort(port.portNumber);
    }
  }
  return OpenResolvedPort(port, baudRate);
}

std::string CommPortDevice(int portNumber) {
  return PlatformPortPath(portNumber);
}

bool CommPortLinked(int portNumber) {
  return PlatformPortLink(portNumber).has_value();
}

CommHandle AdoptCommPort(std::unique_ptr<CommPort> port, int baudRate) {
  return Ports().Add(std::move(port), baudRate);
}

void CloseCommPort(CommHandle handle) {
  Ports().Remove(handle);
}

std::size_t WriteComm(CommHandle handle, std::span<const std::uint8_t> bytes) {
  auto port = Ports().Find(handle);
  const std::size_t written = port ? port->Write(bytes) : 0;
  const auto at = NoteIoTime();
  TellFrameObserver(handle, FrameDirection::kSent,
                    AsSeen(port.get(), FrameDirection::kSent, bytes.first(written)), at);
  return written;
}

std::size_t ReadComm(CommHandle handle, std::span<std::uint8_t> bytes) {
  auto port = Ports().Find(handle);
  const std::size_t read = port ? port->Read(bytes) : 0;
  const auto at = NoteIoTime();
  TellFrameObserver(handle, FrameDirection::kReceived,
                    AsSeen(port.get(), FrameDirection::kReceived, bytes.first(read)), at);
  return read;
}

std::vector<std::uint8_t> DiscardQueuedInput(CommHandle handle) {
  auto port = Ports().Find(handle);
  std::vector<std::uint8_t> stale;
  if (!port) return stale;
  // Only what is queued already: the read returns at once, whatever its time-outs.
  const std::size_t queued = std::min<std::size_t>(port->QueuedInput(), kMostStaleBytes);
  if (queued == 0) return stale;
  stale.resize(queued);
  stale.resize(ReadComm(handle, stale));
  return stale;
}

bool CommLineGone(CommHandle handle) {
  auto port = Ports().Find(handle);
  return port && port->LineGone();
}

void SetCommLocalEcho(CommHandle handle, bool echoes) {
  Ports().ChangeHabits(handle, [echoes](LineHabits& habits) { habits.echoes = echoes; });
}

bool CommLocalEcho(CommHandle handle) {
  return Ports().Habits(handle).echoes;
}

void SetCommSilenceEndsWait(CommHandle handle, bool ends) {
  Ports().ChangeHabits(handle, [ends](LineHabits& habits) { habits.silenceEndsWait = ends; });
}

bool CommSilenceEndsWait(CommHandle handle) {
  return Ports().Habits(handle).silenceEndsWait;
}

void SetCommReadsBegunReply(CommHandle handle, bool reads) {
  Ports().ChangeHabits(handle, [reads](LineHabits& habits) { habits.readsBegunReply = reads; });
}

bool CommReadsBegunReply(CommHandle handle) {
  return Ports().Habits(handle).readsBegunReply;
}

int CommBaudRate(CommHandle handle) {
  return Ports().BaudRate(handle);
}

std::chrono::steady_clock::time_point LastCommIoTime() {
  return ThreadIoTime();
}

InputWait WaitForInputTimed(CommHandle handle, std::uint16_t count, unsigned timeoutMs) {
  InputWait wait;
  auto port = Ports().Find(handle);
  if (!port) return wait;
  const std::uint32_t start = port->TickCount();
  do {
    // The count is taken before the pause.
    LookAtQueue(*port, wait);
    // A line that is gone brings nothing more: its exchange fails now, not at the time-out.
    if (port->LineGone()) return wait;
    port->Sleep(kWaitPassMs);
    if (wait.queued >= count) return wait;
  } while (port->TickCount() - start <= timeoutMs);
  return wait;
}

InputWait WaitForInputUntilTimeOut(CommHandle handle, std::uint16_t count, unsigned timeoutMs,
                                   InputWait wait) {
  auto port = Ports().Find(handle);
  if (!port) return wait;
  const std::uint32_t start = port->TickCount();
  for (;;) {
    LookAtQueue(*port, wait);
    if (wait.queued >= count || port->LineGone()) return wait;
    // Past the time-out on the tick count, so past it in time: that was the last look.
    const std::uint32_t passed = port->TickCount() - start;
    if (passed > timeoutMs) return wait;
    port->Sleep(std::min(kWaitPassMs, timeoutMs + 1 - passed));
  }
}

unsigned WaitForInput(CommHandle handle, std::uint16_t count, unsigned timeoutMs) {
  return WaitForInputTimed(handle, count, timeoutMs).queued;
}
