// What each platform backend provides to comm_port.cpp. Not for use above serial/.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "serial/comm_port.h"

// The device path COM n maps to on this platform ("\\.\COM%d" on Windows); empty if none.
std::string PlatformPortPath(int portNumber);
bool PlatformPortLinked(int portNumber);

// Opens and configures the device; on failure returns null after SetLastCommError.
std::unique_ptr<CommPort> OpenPlatformPort(const std::string& path, int baudRate);

void SetLastCommError(CommErrorKind kind, std::string message);
void SetLastCommError(CommError error);

// When the calling thread's last WriteComm or ReadComm returned, not counting the time a
// frame observer took: what reply times are measured with.
std::chrono::steady_clock::time_point LastCommIoTime();

// InspectCommPort for a device path.
CommError InspectPlatformPort(const std::string& path);
