// What each platform backend provides to comm_port.cpp. Not for use above serial/.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "serial/comm_port.h"

// The longest gap between two bytes that a read takes in (the port's ReadIntervalTimeout).
inline constexpr unsigned kReadIntervalMs = 100;

// The device path COM n maps to on this platform ("\\.\COM%d" on Windows); empty if none.
std::string PlatformPortPath(int portNumber);
// A link of the user's that names the device for COM n (never the device list).
struct PortLink {
  std::string target;
  std::string identity;  // tells this link from one made anew in its place
};
std::optional<PortLink> PlatformPortLink(int portNumber);
// What tells the device at `path` from another that takes its name; empty when unknown.
std::string PlatformDeviceIdentity(const std::string& path);

// Opens and configures the device; on failure returns null after SetLastCommError.
std::unique_ptr<CommPort> OpenPlatformPort(const std::string& path, int baudRate);

void SetLastCommError(CommErrorKind kind, std::string message);
void SetLastCommError(CommError error);

// When the calling thread's last WriteComm or ReadComm returned, not counting the time a
// frame observer took: what reply times are measured with.
std::chrono::steady_clock::time_point LastCommIoTime();

// WaitForInput, telling also when the queue was last seen to grow: when the last of the
// bytes it counts arrived, to within one 2 ms pass.
struct InputWait {
  unsigned queued = 0;
  std::optional<std::chrono::steady_clock::time_point> lastArrival;
};
InputWait WaitForInputTimed(CommHandle handle, std::uint16_t count, unsigned timeoutMs);
// The same, but a wait that does not reach the count ends at its time-out rather than after
// the pass in which it passed, with a last look at the queue there. Goes on from `wait`, what
// an earlier wait saw.
InputWait WaitForInputUntilTimeOut(CommHandle handle, std::uint16_t count, unsigned timeoutMs,
                                   InputWait wait = {});

// The rate the port was opened at (AdoptCommPort); 0 when it is not known.
int CommBaudRate(CommHandle handle);

// InspectCommPort for a device path.
CommError InspectPlatformPort(const std::string& path);
