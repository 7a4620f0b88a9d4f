#include "serial/line_io_posix.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/comm_port_backend.h"
#include "serial/signal_release_posix.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// COMMTIMEOUTS of the Windows port: read 5 ms + 5 ms per byte in all, or 100 ms between two
// bytes; write 100 ms + 50 ms per byte.
constexpr milliseconds kReadTotalConstant{5};
constexpr milliseconds kReadTotalPerByte{5};
constexpr milliseconds kReadInterval{kReadIntervalMs};
constexpr milliseconds kWriteTotalConstant{100};
constexpr milliseconds kWriteTotalPerByte{50};

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

}  // namespace

PosixLine::PosixLine(int fd) : fd_(fd) {
  RememberPortDescriptor(fd);
}

// The flag is taken back before the descriptor leaves the signal handler's reach, so a
// signal at any point here finds the port either released already or still known.
PosixLine::~PosixLine() {
  if (exclusive_) ::ioctl(fd_, TIOCNXCL);
  ForgetPortDescriptor(fd_);
  ::close(fd_);  // also releases the flock
}

void PosixLine::MakeExclusive() {
  exclusive_ = ::ioctl(fd_, TIOCEXCL) == 0;
}

std::size_t PosixLine::Write(std::span<const std::uint8_t> bytes) {
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
std::size_t PosixLine::Read(std::span<std::uint8_t> bytes) {
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

unsigned PosixLine::QueuedInput() {
  int queued = 0;
  if (::ioctl(fd_, FIONREAD, &queued) != 0) {
    NoteFailure(-1);
    return 0;
  }
  return queued > 0 ? static_cast<unsigned>(queued) : 0;
}

bool PosixLine::Await(short events, Clock::time_point deadline) {
  const Readiness readiness = PollUntil(fd_, events, deadline);
  gone_ = gone_ || readiness == Readiness::kGone;
  return readiness == Readiness::kReady;
}

// After a read or write that gave up: a time-out leaves the line as it was.
void PosixLine::NoteFailure(long count) {
  if (count < 0 && errno != EAGAIN && MeansLineGone(errno)) gone_ = true;
}
