// The simulated line's time. Paced, it keeps a real line's: the detector hears a request only
// once its bytes have had their line time, answers a turnaround after it, and sends the reply
// a byte at a time, each ten bit times after the one before, as a UART hands bytes over.
// Instant, replies go out at once whatever the rate, for tests that do not time the line.
// Pure: the simulator reads the terminal and writes to it at the times worked out here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/sim/detector_bus.h"

inline constexpr std::chrono::milliseconds kDefaultTurnaround{10};

struct LinePace {
  bool instant = false;
  std::chrono::milliseconds turnaround = kDefaultTurnaround;  // request's end to reply's start
};

using LineClock = std::chrono::steady_clock;

// The master's bytes as the detector hears them. A pseudo-terminal hands over at once what
// the master wrote; on the line each byte comes ten bit times after the one before, and no
// sooner than the line is free of the bytes before it.
class IncomingLine {
 public:
  // When the last of `count` bytes read at `now` is heard at `baudRate`.
  LineClock::time_point Hear(std::size_t count, LineClock::time_point now, int baudRate);

 private:
  LineClock::time_point busyUntil_{};
};

// The quiet after which the bytes heard make a frame. Paced, a detector that answers sooner
// than the 3.5 characters of the rule takes its turnaround as the end of the request.
LineClock::duration FrameEndSilence(int baudRate, const LinePace& pace);

// A write to the terminal and when it is due.
struct TimedWrite {
  LineClock::time_point at;
  std::vector<std::uint8_t> bytes;
  std::vector<DetectorWrite> writes;  // take effect once these bytes are sent
};

// The response to a request heard in full at `requestEnd`, on a line at `baudRate`, in the
// order its writes fall due. Instant, each part goes out whole after its delay. Paced, each
// part starts a turnaround and its delay after the request's end, or once the line is free
// of the part before it, and each of its bytes is due when the master would have received
// it; the adapter's echo was on the line with the request itself and goes out whole at its end.
std::vector<TimedWrite> ScheduleResponse(LineResponse response, LineClock::time_point requestEnd,
                                         int baudRate, const LinePace& pace);
