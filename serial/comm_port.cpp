#include "serial/comm_port.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "serial/comm_port_backend.h"

CommHandle g_commHandle;

namespace {

// How the exchanges on a port treat its line; see SetCommLocalEcho and
// SetCommSilenceEndsWait.
struct LineHabits {
  bool echoes = false;
  bool silenceEndsWait = false;
};

// Open ports by handle. Lookups hand out shared ownership, so a close on one thread never
// frees a line another thread is still inside.
class PortTable {
 public:
  CommHandle Add(std::unique_ptr<CommPort> port) {
    std::lock_guard lock(mutex_);
    if (++lastId_ == 0) ++lastId_;  // never hand out the null handle, even after wrapping
    ports_.emplace(lastId_, Entry{std::move(port), LineHabits{}});
    return CommHandle(lastId_);
  }
  std::shared_ptr<CommPort> Find(CommHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(handle.id());
    return it == ports_.end() ? nullptr : it->second.port;
  }
  void Remove(CommHandle handle) {
    std::shared_ptr<CommPort> closing;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    if (auto it = ports_.find(handle.id()); it != ports_.end()) {
      closing = std::move(it->second.port);
      ports_.erase(it);
    }
  }
  template <typename Change>
  void ChangeHabits(CommHandle handle, Change change) {
    std::lock_guard lock(mutex_);
    if (auto it = ports_.find(handle.id()); it != ports_.end()) change(it->second.habits);
  }
  LineHabits Habits(CommHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(handle.id());
    return it == ports_.end() ? LineHabits{} : it->second.habits;
  }

 private:
  struct Entry {
    std::shared_ptr<CommPort> port;
    LineHabits habits;
  };
  std::mutex mutex_;
  std::uint32_t lastId_ = 0;
  std::map<std::uint32_t, Entry> ports_;
};

// The frame observer. The flag keeps the unobserved path to one atomic load.
class FrameTrace {
 public:
  void Set(FrameObserver observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
    observing_ = static_cast<bool>(observer_);
  }
  void Tell(CommHandle port, FrameDirection direction, std::span<const std::uint8_t> bytes,
            std::chrono::steady_clock::time_point at) {
    if (!observing_.load(std::memory_order_relaxed)) return;
    const FrameEvent event{port, direction, bytes, at};
    std::lock_guard lock(mutex_);
    if (observer_) observer_(event);
  }

 private:
  std::atomic<bool> observing_ = false;
  std::mutex mutex_;
  FrameObserver observer_;
};

FrameTrace& Trace() {
  static FrameTrace trace;
  return trace;
}

std::chrono::steady_clock::time_point& ThreadIoTime() {
  thread_local std::chrono::steady_clock::time_point at;
  return at;
}

// When this thread's write or read returned, before any observer ran.
std::chrono::steady_clock::time_point NoteIoTime() {
  return ThreadIoTime() = std::chrono::steady_clock::now();
}

PortTable& Ports() {
  static PortTable table;
  return table;
}

CommError& ThreadCommError() {
  thread_local CommError error;
  return error;
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

CommHandle OpenCommDevice(const std::string& path, int baudRate) {
  SetLastCommError(CommErrorKind::kNone, {});
  auto port = OpenPlatformPort(path, baudRate);
  if (!port) ThreadCommError().device = path;
  return port ? AdoptCommPort(std::move(port)) : CommHandle();
}

CommError InspectCommPort(int portNumber) {
  const std::string path = PlatformPortPath(portNumber);
  if (path.empty())
    return CommError{.kind = CommErrorKind::kNotFound, .message = "no serial device"};
  CommError error = InspectPlatformPort(path);
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

std::string CommPortDevice(int portNumber) {
  return PlatformPortPath(portNumber);
}

bool CommPortLinked(int portNumber) {
  return PlatformPortLinked(portNumber);
}

CommHandle AdoptCommPort(std::unique_ptr<CommPort> port) {
  return Ports().Add(std::move(port));
}

void CloseCommPort(CommHandle handle) {
  Ports().Remove(handle);
}

std::size_t WriteComm(CommHandle handle, std::span<const std::uint8_t> bytes) {
  auto port = Ports().Find(handle);
  const std::size_t written = port ? port->Write(bytes) : 0;
  Trace().Tell(handle, FrameDirection::kSent, bytes.first(written), NoteIoTime());
  return written;
}

std::size_t ReadComm(CommHandle handle, std::span<std::uint8_t> bytes) {
  auto port = Ports().Find(handle);
  const std::size_t read = port ? port->Read(bytes) : 0;
  Trace().Tell(handle, FrameDirection::kReceived, bytes.first(read), NoteIoTime());
  return read;
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

std::chrono::steady_clock::time_point LastCommIoTime() {
  return ThreadIoTime();
}

void SetFrameObserver(FrameObserver observer) {
  Trace().Set(std::move(observer));
}

unsigned WaitForInput(CommHandle handle, std::uint16_t count, unsigned timeoutMs) {
  auto port = Ports().Find(handle);
  if (!port) return 0;
  const std::uint32_t start = port->TickCount();
  unsigned queued = 0;
  do {
    // The count is taken before the pause, as the driver's status query would give it.
    queued = port->QueuedInput();
    // A line that is gone brings nothing more: its exchange fails now, not at the time-out.
    if (port->LineGone()) return queued;
    port->Sleep(2);
    if (queued >= count) return queued;
  } while (port->TickCount() - start <= timeoutMs);
  return queued;
}
