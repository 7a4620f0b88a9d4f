#include "serial/comm_port.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "serial/comm_port_backend.h"

CommHandle g_commHandle;

namespace {

// Open ports by handle. Lookups hand out shared ownership, so a close on one thread never
// frees a line another thread is still inside.
class PortTable {
 public:
  CommHandle Add(std::unique_ptr<CommPort> port) {
    std::lock_guard lock(mutex_);
    if (++lastId_ == 0) ++lastId_;  // never hand out the null handle, even after wrapping
    ports_.emplace(lastId_, std::move(port));
    return CommHandle(lastId_);
  }
  std::shared_ptr<CommPort> Find(CommHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(handle.id());
    return it == ports_.end() ? nullptr : it->second;
  }
  void Remove(CommHandle handle) {
    std::shared_ptr<CommPort> closing;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    if (auto it = ports_.find(handle.id()); it != ports_.end()) {
      closing = std::move(it->second);
      ports_.erase(it);
    }
  }

 private:
  std::mutex mutex_;
  std::uint32_t lastId_ = 0;
  std::map<std::uint32_t, std::shared_ptr<CommPort>> ports_;
};

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
  ThreadCommError() = CommError{kind, std::move(message)};
}

CommHandle OpenCommDevice(const std::string& path, int baudRate) {
  SetLastCommError(CommErrorKind::kNone, {});
  auto port = OpenPlatformPort(path, baudRate);
  return port ? AdoptCommPort(std::move(port)) : CommHandle();
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

CommHandle AdoptCommPort(std::unique_ptr<CommPort> port) {
  return Ports().Add(std::move(port));
}

void CloseCommPort(CommHandle handle) {
  Ports().Remove(handle);
}

std::size_t WriteComm(CommHandle handle, std::span<const std::uint8_t> bytes) {
  auto port = Ports().Find(handle);
  return port ? port->Write(bytes) : 0;
}

std::size_t ReadComm(CommHandle handle, std::span<std::uint8_t> bytes) {
  auto port = Ports().Find(handle);
  return port ? port->Read(bytes) : 0;
}

unsigned WaitForInput(CommHandle handle, std::uint16_t count, unsigned timeoutMs) {
  auto port = Ports().Find(handle);
  if (!port) return 0;
  const std::uint32_t start = port->TickCount();
  unsigned queued = 0;
  do {
    // The count is taken before the pause, as the driver's status query would give it.
    queued = port->QueuedInput();
    port->Sleep(2);
    if (queued >= count) return queued;
  } while (port->TickCount() - start <= timeoutMs);
  return queued;
}
