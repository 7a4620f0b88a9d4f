// The port acquisition holds from its start to its stop. When the system reports the line
// gone (an adapter pulled: a hang-up or EIO, not a mere time-out), the port is closed at once,
// so that the kernel can give the adapter back under its old name, and each later poll tries
// to open the same port at the same rate again until it opens.
#pragma once

#include <string>

#include "serial/comm_port.h"

class HeldPort {
 public:
  // Opens COM n, or the device `path` when it is not empty, at the rate. False when it does
  // not open (LastCommError says why).
  bool Open(int portNumber, const std::string& path, int baudRate);
  // Before a poll: the open port, opened anew if its line went; null while it stays gone.
  CommHandle ForPoll();
  // After a poll: closes the port when its line went. True when it did so just now.
  bool CheckLine();
  void Close();

  CommHandle handle() const { return handle_; }
  bool gone() const { return gone_; }

 private:
  CommHandle Reopen() const;

  CommHandle handle_;
  int portNumber_ = 0;
  int baudRate_ = 0;
  // The device found at the start. A COM number the user links is followed to wherever its
  // link points now; one that fell through to the device list keeps its device, so that a
  // pulled adapter never makes the polls go to whatever device now takes its place.
  std::string device_;
  bool followLink_ = false;
  bool gone_ = false;
};
