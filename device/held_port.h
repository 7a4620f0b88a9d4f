// The port acquisition holds from its start to its stop. When the system reports the line
// gone (an adapter pulled: a hang-up or EIO, not a mere time-out), the port is closed at once,
// so that the kernel can give the adapter back under its old name, and each later poll tries
// to open the same port at the same rate again until it opens: the same device or none
// (ReopenResolvedPort), never whatever device now takes its place.
#pragma once

#include <string>

#include "serial/comm_port.h"
#include "serial/rtu.h"

class HeldPort {
 public:
  // Opens the port at the rate. False when it does not open (LastCommError says why).
  bool Open(const ResolvedPort& port, int baudRate);
  // Before a poll: the open port, opened anew if its line went; null while it stays gone.
  CommHandle ForPoll();
  // After a poll: closes the port when its line went. True when it did so just now.
  bool CheckLine();
  void Close();
  // A poll that could not be made: the line is still gone, or opening it again was refused
  // for another reason (another program has it, another device took its name).
  ExchangeOutcome WhyNotOpen() const;

  CommHandle handle() const { return handle_; }
  bool gone() const { return gone_; }

 private:
  CommHandle handle_;
  ResolvedPort port_;
  int baudRate_ = 0;
  bool gone_ = false;
  CommError reopenRefusal_;
};
