#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// The number of /dev/pts/N.
unsigned long TerminalNumber(const std::string& path) {
  return std::stoul(path.substr(path.rfind('/') + 1));
}

}  // namespace

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) Fail("posix_openpt");
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) Fail("unlockpt");
  const char* name = ::ptsname(master_);
  if (name == nullptr) Fail("ptsname");
  portPath_ = name;
  // O_NOCTTY: a test process must never get the line as its terminal, or Pull() hangs it up.
  // Write-only, so that a program of ours opening the port does not count it as another
  // reader of the line, which would make the port busy.
  portSide_ = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (portSide_ < 0) Fail("open pty");
  if (::tcgetattr(master_, &initial_) != 0) Fail("tcgetattr");
  termios raw = initial_;
  ::cfmakeraw(&raw);
  if (::tcsetattr(master_, TCSANOW, &raw) != 0) Fail("tcsetattr");
}

PtyPair::~PtyPair() {
  ::close(portSide_);
  if (master_ >= 0) ::close(master_);
}

void PtyPair::Send(std::span<const std::uint8_t> bytes) {
  if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    Fail("write to pty master");
  }
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = Clock::now() + timeout;
  while (bytes.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{master_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    std::uint8_t chunk[256];
    const ssize_t got = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
    if (got <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

unsigned PtyPair::QueuedAtPort() const {
  int queued = 0;
  return ::ioctl(portSide_, FIONREAD, &queued) == 0 ? static_cast<unsigned>(queued) : 0;
}

bool PtyPair::WaitForQueuedAtPort(unsigned count, std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  while (QueuedAtPort() != count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

termios PtyPair::LineSettings() const {
  termios settings{};
  if (::tcgetattr(master_, &settings) != 0) Fail("tcgetattr");
  return settings;
}

void PtyPair::RestoreInitialSettings() {
  if (::tcsetattr(master_, TCSANOW, &initial_) != 0) Fail("tcsetattr");
}

void PtyPair::Pull() {
  ::close(master_);
  master_ = -1;
}

std::unique_ptr<PtyPair> PtyPairNamed(const std::string& path,
                                      std::vector<std::unique_ptr<PtyPair>>& below,
                                      std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    auto pair = std::make_unique<PtyPair>();
    if (pair->PortPath() == path) return pair;
    if (TerminalNumber(pair->PortPath()) < TerminalNumber(path)) {
      below.push_back(std::move(pair));
    } else {
      // The name is not free yet: its last holder has not closed it.
      pair.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return nullptr;
}
