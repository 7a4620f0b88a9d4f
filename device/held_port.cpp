#include "device/held_port.h"

bool HeldPort::Open(const ResolvedPort& port, int baudRate) {
  port_ = port;
  baudRate_ = baudRate;
  gone_ = false;
  handle_ = OpenResolvedPort(port_, baudRate);
  return static_cast<bool>(handle_);
}

CommHandle HeldPort::ForPoll() {
  if (gone_) {
    const CommHandle reopened = ReopenResolvedPort(port_, baudRate_);
    reopenRefusal_ = LastCommError();
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

ExchangeOutcome HeldPort::WhyNotOpen() const {
  ExchangeOutcome outcome;
  // A device that is still missing, or a gateway still out of reach, is the line still gone;
  // anything else refused it.
  const bool missing = reopenRefusal_.kind == CommErrorKind::kNotFound ||
                       reopenRefusal_.kind == CommErrorKind::kNone ||
                       IsConnectionFailure(reopenRefusal_.kind);
  outcome.result = missing ? ExchangeResult::kLineGone : ExchangeResult::kNotOpen;
  if (!missing) outcome.refusal = reopenRefusal_;
  return outcome;
}
