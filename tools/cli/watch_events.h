// What a watch tells those who act on it (a change hook, an MQTT broker): a detector starting
// or stopping to answer, its leak state or alarm type changing, its line going and coming
// back. Worked out from the polls alone, apart from I/O, so that it can be tested on its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/detector.h"
#include "tools/cli/poll_log.h"

enum class WatchEventKind {
  kAnswering,     // the first good poll, or the first after it stopped answering
  kNotAnswering,  // two failed polls in a row
  kLeakStarted,
  kLeakEnded,
  kAlarmChanged,  // the alarm type alone changed
  kLineGone,      // the line's events: every detector on it
  kLineBack,
};

struct WatchEvent {
  WatchEventKind kind = WatchEventKind::kAnswering;
  std::vector<int> addresses;  // the detector's; for the line's events, every one on it
  std::chrono::system_clock::time_point at;
  std::optional<DetectorStatus> status;    // as last read; none before the first good poll
  std::optional<DetectorStatus> previous;  // as read before this poll
  std::vector<std::string_view> changed;   // "leak", "alarm", both or none
  std::string cause;                       // why it does not answer, or why the line went
};

// "answering", "not-answering", "leak-started", "leak-ended", "alarm-changed", "line-gone",
// "line-back".
std::string_view WatchEventName(WatchEventKind kind);

// The line's events, which concern every detector on it, not one.
constexpr bool IsLineEvent(WatchEventKind kind) {
  return kind == WatchEventKind::kLineGone || kind == WatchEventKind::kLineBack;
}

// One detector's polls weighed as events. Until it is read it counts as dry and without an
// alarm, so that a leak already there at the start is told as starting.
class DetectorWatch {
 public:
  // The events one poll brings, in order: that the detector answers (again), then what
  // changed.
  std::vector<WatchEvent> Polled(const PollReading& reading, bool echo);

  const std::optional<DetectorStatus>& status() const { return status_; }
  // None until the first good poll or the second failed one.
  std::optional<bool> answering() const { return answering_; }

 private:
  WatchEvent Event(WatchEventKind kind, const PollReading& reading) const;

  std::optional<DetectorStatus> status_;
  std::optional<DetectorStatus> previous_;
  std::optional<bool> answering_;
  std::uint64_t failedInARow_ = 0;
};

// Whoever acts on a watch: told of each poll and of each event, and if it asks, of each
// detector's firmware version, read once after its first good poll.
class Watcher {
 public:
  virtual ~Watcher() = default;
  virtual void Reading(const PollReading& reading) = 0;
  virtual void Event(const WatchEvent& event) = 0;
  virtual bool WantsVersions() const { return false; }
  virtual void Version(int /*address*/, double /*version*/) {}
};
