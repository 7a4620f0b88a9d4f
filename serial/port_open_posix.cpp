// Opening a serial device on POSIX systems as Windows opens a COM port: without sharing, raw
// 8N1 before any byte moves, both queues purged. Who else holds the device decides whether
// it is busy.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>

#include "serial/comm_port_backend.h"
#include "serial/device_holders_posix.h"
#include "serial/line_io_posix.h"

namespace {

std::string SystemMessage(int error) {
  return std::generic_category().message(error);
}

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

// Another process that has the character device at `path` open: reading it, or, with
// `anyAccess`, in any way (whoever made it exclusive need not read it).
std::optional<DeviceHolder> OtherHolder(const std::string& path, bool anyAccess = false) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  return anyAccess ? FindOtherHolder(info.st_rdev) : FindOtherReader(info.st_rdev);
}

std::string HolderText(const DeviceHolder& holder) {
  return holder.command + " (pid " + std::to_string(holder.pid) + ")";
}

CommError BusyError(const std::string& path, const std::string& reason,
                    const std::optional<DeviceHolder>& holder) {
  CommError refusal{.kind = CommErrorKind::kBusy, .message = path + ": " + reason};
  if (holder) {
    refusal.message += ", by " + HolderText(*holder);
    refusal.holderPid = holder->pid;
    refusal.holderCommand = holder->command;
  }
  return refusal;
}

// The open itself refused: a missing device, one not ours to open, or a terminal another
// program made exclusive, whose holder is looked for as any other's.
std::unique_ptr<CommPort> RefuseOpen(const std::string& path, int error) {
  CommError refusal{.kind = OpenErrorKind(error), .message = path + ": " + SystemMessage(error)};
  if (error == EBUSY) refusal = BusyError(path, SystemMessage(error), OtherHolder(path, true));
  if (refusal.kind == CommErrorKind::kPermission) refusal.group = DeviceGroup(path);
  SetLastCommError(std::move(refusal));
  return nullptr;
}

// Root passes another program's exclusive flag; nobody should, so we look for it ourselves.
bool MadeExclusiveByAnother(int fd) {
  int exclusive = 0;
  return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
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

// Why the open descriptor is not ours to use, or nothing. The descriptor stays open.
std::optional<CommError> WhyNotUsable(int fd, const std::string& path) {
  // Anything but a terminal (/dev/null, a file) is no serial device, whoever else has it.
  if (!::isatty(fd)) return CommError{CommErrorKind::kNotSerial, path + ": not a serial device"};
  if (MadeExclusiveByAnother(fd)) {
    return BusyError(path, "the terminal is exclusive (TIOCEXCL)", OtherHolder(path, true));
  }
  // Windows opens a COM port without sharing. TIOCEXCL refuses later opens, but not those of
  // root, so the lock is what keeps two of our own processes apart.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error != EWOULDBLOCK) {
      return CommError{CommErrorKind::kConfiguration, path + ": " + SystemMessage(error)};
    }
    return BusyError(path, "already open elsewhere (" + SystemMessage(error) + ")",
                     OtherHolder(path));
  }
  // A program that opened the device without locking it (a terminal program, a modem manager
  // probing a new adapter, a script with a serial library's defaults) is not kept out by the
  // lock, and one that reads the line would take our replies: the port is busy while it does.
  if (const auto holder = OtherHolder(path)) {
    return BusyError(path, "open in another program", holder);
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<CommPort> OpenPlatformPort(const std::string& path, int baudRate) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return RefuseOpen(path, errno);
  if (auto refusal = WhyNotUsable(fd, path)) {
    ::close(fd);
    SetLastCommError(std::move(*refusal));
    return nullptr;
  }
  // The port is known to ReleaseCommPortsFromSignal before it is made exclusive.
  auto line = std::make_unique<PosixLine>(fd);
  line->MakeExclusive();

  const auto speed = SpeedFor(baudRate);
  if (!speed) {
    return Refuse(CommErrorKind::kConfiguration, path,
                  "unsupported baud rate " + std::to_string(baudRate));
  }
  if (const int error = SetLineSettings(fd, *speed)) {
    return Refuse(CommErrorKind::kConfiguration, path, SystemMessage(error));
  }
  // DTR off as DTR_CONTROL_DISABLE; a pseudo-terminal has no modem lines, so failure is ignored.
  const int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &dtr);
  // The purge: no byte from earlier traffic may be read as part of the next reply.
  ::tcflush(fd, TCIOFLUSH);
  return line;
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
