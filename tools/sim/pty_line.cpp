#include "tools/sim/pty_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

struct Speed {
  speed_t code;
  int rate;
};

constexpr std::array<Speed, 5> kSpeeds = {{
    {B1200, 1200},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
}};

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

speed_t SpeedCode(int rate) {
  for (const auto& speed : kSpeeds) {
    if (speed.rate == rate) return speed.code;
  }
  return B9600;
}

// Raw 8N1 at the rate, so nothing is echoed or translated before the other side sets its
// own mode.
bool MakeRaw(int fd, int baudRate) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&settings, SpeedCode(baudRate));
  cfsetospeed(&settings, SpeedCode(baudRate));
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

std::unique_ptr<PtyLine> PtyLine::Open(int baudRate, std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    error = SystemError("posix_openpt");
    return nullptr;
  }
  const char* name = nullptr;
  if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
    error = SystemError("preparing the pseudo-terminal");
    close(master);
    return nullptr;
  }
  const std::string slavePath = name;
  // Write-only: the hold must not make our line look read by another program, which would
  // make the master's port busy.
  const int slave = open(slavePath.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || !MakeRaw(slave, baudRate) ||
      fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
    error = SystemError(slavePath.c_str());
    if (slave >= 0) close(slave);
    close(master);
    return nullptr;
  }
  return std::unique_ptr<PtyLine>(new PtyLine(master, slave, slavePath));
}

PtyLine::~PtyLine() {
  close(slave_);
  close(master_);
}

// The master shares the slave's settings, so this is the speed the other side chose.
int PtyLine::LineBaud() const {
  termios settings{};
  if (tcgetattr(master_, &settings) != 0) return 0;
  const speed_t code = cfgetospeed(&settings);
  for (const auto& speed : kSpeeds) {
    if (speed.code == code) return speed.rate;
  }
  return 0;
}

std::size_t PtyLine::Read(std::span<std::uint8_t> buffer) {
  const ssize_t count = read(master_, buffer.data(), buffer.size());
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

bool PtyLine::Write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t count = write(master_, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(count));
  }
  return true;
}
