// The COM numbers run-under-wine.sh links before it runs the Windows tests, each to a
// kl395-sim of its own; its table of simulators says the same. The other numbers up to 12
// lead to no device.
#pragma once

#include "serial/comm_port.h"

namespace wine_ports {

// Address 1 at 9600 baud: version 1.0, sensitivity 2, 12.4 V, no leak, no alarm. Only read.
inline constexpr int kDetector = 1;
// No device behind it.
inline constexpr int kMissing = 2;
// Address 1 at 9600 baud, reporting a leak and the photoelectric alarm.
inline constexpr int kLeaking = 3;
// Address 1 at 9600 baud, for the tests that write to it; they leave it as they found it.
inline constexpr int kWritable = 4;
// Address 1 at 9600 baud, sending one stray byte with each reply.
inline constexpr int kStray = 5;
// Address 1 at 9600 baud, sending its replies one byte at a time, 20 ms apart.
inline constexpr int kBytewise = 6;
// Address 5 at 19200 baud, on a two-digit COM number.
inline constexpr int kFar = 12;

}  // namespace wine_ports

// A COM port opened for one test and closed at its end.
class OpenedPort {
 public:
  OpenedPort(int portNumber, int baudRate) : handle_(OpenCommPort(portNumber, baudRate)) {}
  ~OpenedPort() { CloseCommPort(handle_); }
  OpenedPort(const OpenedPort&) = delete;
  OpenedPort& operator=(const OpenedPort&) = delete;

  CommHandle operator*() const { return handle_; }
  explicit operator bool() const { return static_cast<bool>(handle_); }

 private:
  CommHandle handle_;
};
