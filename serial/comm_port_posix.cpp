// The serial line on POSIX systems, behaving as the Windows driver does with the settings
// OpenCommPort gives it: exclusive, raw 8N1, and reads and writes bounded by COMMTIMEOUTS.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <system_error>

#include "serial/comm_port_backend.h"
#include "serial/device_holders_posix.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// COMMTIMEOUTS of the Windows port: read 5 ms + 5 ms per byte in all, or 100 ms between two
// bytes; write 100 ms + 50 ms per byte.
constexpr milliseconds kReadTotalConstant{5};
constexpr milliseconds kReadTotalPerByte{5};
constexpr milliseconds kReadInterval{100};
constexpr milliseconds kWriteTotalConstant{100};
constexpr milliseconds kWriteTotalPerByte{50};

std::string SystemMessage(int error) {
  return std::generic_category().message(error);
}

enum class Readiness { kReady, kTimedOut, kGone };

// Waits until the descriptor is ready for `events` or the deadline passes. A line that is
// gone (hang-up, error) ends the wait at once: a pulled adapter must not hold us up.
Readiness PollUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Readiness::kTimedOut;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || entry.revents & (POLLERR | POLLHUP | POLLNVAL)) return Readiness::kGone;
    if (ready > 0) return Readiness::kReady;
  }
}

// What the system says when the device behind a descriptor has gone: a USB adapter pulled,
// the other end of a pseudo-terminal closed.
bool MeansLineGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

// The descriptors of the open ports, where a signal handler can find them: lock-free atomics
// are all the shared state it may touch. A port beyond the slots is only not released early.
class OpenDescriptors {
 public:
  OpenDescriptors() {
    for (auto& slot : slots_) slot = kFree;
  }
  void Add(int fd) {
    for (auto& slot : slots_) {
      if (int free = kFree; slot.compare_exchange_strong(free, fd)) return;
    }
  }
  void Remove(int fd) {
    for (auto& slot : slots_) {
      if (int held = fd; slot.compare_exchange_strong(held, kFree)) return;
    }
  }
  void ReleaseAll() {
    for (auto& slot : slots_) {
      if (const int fd = slot.exchange(kFree); fd != kFree) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
      }
    }
  }

 private:
  static constexpr int kFree = -1;
  static_assert(std::atomic<int>::is_always_lock_free);
  std::array<std::atomic<int>, 16> slots_;
};

OpenDescriptors g_openDescriptors;

class PosixCommPort final : public CommPort {
 public:
  explicit PosixCommPort(int fd) : fd_(fd) { g_openDescriptors.Add(fd); }
  // The hold is taken back before the descriptor leaves the slots, so a signal at any point
  // here finds the port either released already or still in a slot.
  ~PosixCommPort() override {
    ::ioctl(fd_, TIOCNXCL);
    g_openDescriptors.Remove(fd_);
    ::close(fd_);  // also releases the flock
  }
  PosixCommPort(const PosixCommPort&) = delete;
  PosixCommPort& operator=(const PosixCommPort&) = delete;

  std::size_t Write(std::span<const std::uint8_t> bytes) override {
    const auto deadline = Clock::now() + kWriteTotalConstant +
                          kWriteTotalPerByte * static_cast<milliseconds::rep>(bytes.size());
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t count = ::write(fd_, bytes.data() + written, bytes.size() - written);
      if (count > 0) {
        written += static_cast<std::size_t>(count);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if ((count == 0 || errno == EAGAIN) && Await(POLLOUT, deadline)) {
        continue;
      } else {
        NoteFailure(count);
        break;
      }
    }
    return written;
  }

  // With VMIN = VTIME = 0 a read never blocks and returns 0 when nothing is queued, so the
  // time-outs are kept here: a total deadline, shortened to 100 ms after each byte.
  std::size_t Read(std::span<std::uint8_t> bytes) override {
    const auto total = Clock::now() + kReadTotalConstant +
                       kReadTotalPerByte * static_cast<milliseconds::rep>(bytes.size());
    auto deadline = total;
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t count = ::read(fd_, bytes.data() + got, bytes.size() - got);
      if (count > 0) {
        got += static_cast<std::size_t>(count);
        deadline = std::min(total, Clock::now() + kReadInterval);
      } else if (count < 0 && errno == EINTR) {
        continue;
      } else if ((count == 0 || errno == EAGAIN) && Await(POLLIN, deadline)) {
        continue;
      } else {
        NoteFailure(count);  // time-out, or EIO from a line that is gone
        break;
      }
    }
    return got;
  }

  // A hung-up terminal refuses the query with EIO: the line is gone.
  unsigned QueuedInput() override {
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0) {
      NoteFailure(-1);
      return 0;
    }
    return queued > 0 ? static_cast<unsigned>(queued) : 0;
  }

  bool LineGone() const override { return gone_; }

 private:
  bool Await(short events, Clock::time_point deadline) {
    const Readiness readiness = PollUntil(fd_, events, deadline);
    gone_ = gone_ || readiness == Readiness::kGone;
    return readiness == Readiness::kReady;
  }
  // After a read or write that gave up: a time-out leaves the line as it was.
  void NoteFailure(ssize_t count) {
    if (count < 0 && errno != EAGAIN && MeansLineGone(errno)) gone_ = true;
  }

  int fd_;
  bool gone_ = false;
};

std::optional<speed_t> SpeedFor(int baudRate) {
  switch (baudRate) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    default:
      return std::nullopt;
  }
}

CommErrorKind OpenErrorKind(int error) {
  switch (error) {
    case EBUSY:
      return CommErrorKind::kBusy;  // TIOCEXCL set by another program
    case EACCES:
    case EPERM:
      return CommErrorKind::kPermission;
    default:
      return CommErrorKind::kNotFound;  // ENOENT, ENODEV, ENXIO, EIO on a phantom UART
  }
}

std::unique_ptr<CommPort> Refuse(CommErrorKind kind, const std::string& path,
                                 const std::string& reason) {
  SetLastCommError(kind, path + ": " + reason);
  return nullptr;
}

// Another process reading the device the descriptor is open on.
std::optional<DeviceHolder> OtherReader(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  return FindOtherReader(info.st_rdev);
}

std::string HolderText(const DeviceHolder& holder) {
  return holder.command + " (pid " + std::to_string(holder.pid) + ")";
}

std::unique_ptr<CommPort> RefuseBusy(const std::string& path, const std::string& reason,
                                     const std::optional<DeviceHolder>& holder) {
  CommError refusal{.kind = CommErrorKind::kBusy, .message = path + ": " + reason};
  if (holder) {
    refusal.message += ", by " + HolderText(*holder);
    refusal.holderPid = holder->pid;
    refusal.holderCommand = holder->command;
  }
  SetLastCommError(std::move(refusal));
  return nullptr;
}

// Raw mode first of all: in the default mode 0x03, our read function code, is the interrupt
// character and 0x0A goes out as 0D 0A. Modem lines are ignored (CLOCAL), as on Windows
// with no flow control. Returns 0 or the errno of the refusal.
int SetLineSettings(int fd, speed_t speed) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return errno;
  ::cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
      ::tcsetattr(fd, TCSANOW, &settings) != 0) {
    return errno;
  }
  return 0;
}

}  // namespace

std::unique_ptr<CommPort> OpenPlatformPort(const std::string& path, int baudRate) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    CommError refusal{.kind = OpenErrorKind(error), .message = path + ": " + SystemMessage(error)};
    if (refusal.kind == CommErrorKind::kPermission) refusal.group = DeviceGroup(path);
    SetLastCommError(std::move(refusal));
    return nullptr;
  }
  // Windows opens a COM port without sharing. TIOCEXCL refuses later opens, but not those of
  // root, so the lock is what keeps two of our own processes apart.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    const auto holder = OtherReader(fd);
    ::close(fd);
    if (error == EWOULDBLOCK) {
      return RefuseBusy(path, "already open elsewhere (" + SystemMessage(error) + ")", holder);
    }
    return Refuse(CommErrorKind::kConfiguration, path, SystemMessage(error));
  }
  // A program that opened the device without locking it (a terminal program, a modem manager
  // probing a new adapter, a script with a serial library's defaults) is not kept out by the
  // lock, and one that reads the line would take our replies: the port is busy while it does.
  if (const auto holder = OtherReader(fd)) {
    ::close(fd);
    return RefuseBusy(path, "open in another program", holder);
  }
  // The port is known to ReleaseCommPortsFromSignal before it is made exclusive.
  auto port = std::make_unique<PosixCommPort>(fd);
  ::ioctl(fd, TIOCEXCL);  // not a tty is caught by the line settings below

  const auto speed = SpeedFor(baudRate);
  if (!speed) {
    return Refuse(CommErrorKind::kConfiguration, path,
                  "unsupported baud rate " + std::to_string(baudRate));
  }
  if (const int error = SetLineSettings(fd, *speed)) {
    const std::string reason = error == ENOTTY ? "not a serial device" : SystemMessage(error);
    return Refuse(CommErrorKind::kConfiguration, path, reason);
  }
  // DTR off as DTR_CONTROL_DISABLE; a pseudo-terminal has no modem lines, so failure is ignored.
  const int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &dtr);
  // The purge: no byte from earlier traffic may be read as part of the next reply.
  ::tcflush(fd, TCIOFLUSH);
  return port;
}

void ReleaseCommPortsFromSignal() {
  g_openDescriptors.ReleaseAll();
}

CommError InspectPlatformPort(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    return {.kind = OpenErrorKind(error), .message = path + ": " + SystemMessage(error)};
  }
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    const int error = errno;
    return {.kind = OpenErrorKind(error),
            .message = path + ": " + SystemMessage(error),
            .group = error == EACCES ? DeviceGroup(path) : std::string()};
  }
  if (!S_ISCHR(info.st_mode)) return {};
  if (const auto holder = FindOtherReader(info.st_rdev)) {
    return {.kind = CommErrorKind::kBusy,
            .message = path + ": open in " + HolderText(*holder),
            .holderPid = holder->pid,
            .holderCommand = holder->command};
  }
  return {};
}
