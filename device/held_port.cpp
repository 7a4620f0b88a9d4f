#include "device/held_port.h"

bool HeldPort::Open(int portNumber, const std::string& path, int baudRate) {
  portNumber_ = portNumber;
  baudRate_ = baudRate;
  followLink_ = path.empty() && CommPortLinked(portNumber);
  device_ = path.empty() ? CommPortDevice(portNumber) : path;
  gone_ = false;
  handle_ = path.empty() ? OpenCommPort(portNumber, baudRate) : OpenCommDevice(path, baudRate);
  return static_cast<bool>(handle_);
}

CommHandle HeldPort::Reopen() const {
  if (followLink_) return OpenCommPort(portNumber_, baudRate_);
  return device_.empty() ? CommHandle() : OpenCommDevice(device_, baudRate_);
}

CommHandle HeldPort::ForPoll() {
  if (gone_) {
    const CommHandle reopened = Reopen();
    if (!reopened) return CommHandle();
    handle_ = reopened;
    gone_ = false;
  }
  return handle_;
}

bool HeldPort::CheckLine() {
  if (gone_ || !CommLineGone(handle_)) return false;
  CloseCommPort(handle_);
  gone_ = true;
  return true;
}

void HeldPort::Close() {
  CloseCommPort(handle_);
  gone_ = false;
}
