// A line opened by its device path or URL for a test, closed at the end of it.
#pragma once

#include <string>

#include "serial/comm_port.h"

class OpenLine {
 public:
  OpenLine(const std::string& path, int baudRate) : handle_(OpenCommDevice(path, baudRate)) {}
  ~OpenLine() { CloseCommPort(handle_); }
  OpenLine(const OpenLine&) = delete;
  OpenLine& operator=(const OpenLine&) = delete;
  CommHandle operator*() const { return handle_; }
  explicit operator bool() const { return static_cast<bool>(handle_); }

 private:
  CommHandle handle_;
};
