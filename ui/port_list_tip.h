// The port list's explanation, worked out from the COM links, the devices present and what
// stands in the way of each, without opening any port.
#pragma once

#include <chrono>
#include <optional>
#include <string>

// One line per COM number from 1 to `portCount` that has a device: "Com3：/dev/ttyUSB0", then
// where the device comes from when the user keeps links (a COM number without one falls
// through to the device list), then its state when it cannot be used: missing, not
// permitted (with the group to join) or in use by another program (its name and pid).
// Worked out afresh each time, without opening any port.
std::string PortListToolTip(int portCount);

// The tip as a window shows it. A pointer resting on the list asks for it again and again,
// and each time would look through every process's open files, so a tip is kept for a short
// while; a user who comes back to the list after plugging an adapter in sees it.
class PortListTip {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kKeptFor{2};

  // PortListToolTip(portCount), worked out anew only once the last one is kKeptFor old.
  const std::string& Text(int portCount, Clock::time_point now = Clock::now());

 private:
  std::string text_;
  int portCount_ = 0;
  std::optional<Clock::time_point> madeAt_;
};
