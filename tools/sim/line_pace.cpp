#include "tools/sim/line_pace.h"

#include <algorithm>

#include "serial/line_time.h"
#include "tools/sim/frame_splitter.h"

LineClock::time_point IncomingLine::Hear(std::size_t count, LineClock::time_point now,
                                         int baudRate) {
  busyUntil_ = std::max(now, busyUntil_) + LineTime(count, baudRate);
  return busyUntil_;
}

LineClock::duration FrameEndSilence(int baudRate, const LinePace& pace) {
  const LineClock::duration rule = FrameSilence(baudRate);
  return pace.instant ? rule : std::min<LineClock::duration>(rule, pace.turnaround);
}

namespace {

std::vector<TimedWrite> AllAtOnce(LineResponse response, LineClock::time_point requestEnd) {
  std::vector<TimedWrite> writes;
  for (LinePart& part : response.parts) {
    writes.push_back({requestEnd + part.delay, std::move(part.bytes), std::move(part.writes)});
  }
  return writes;
}

// Each byte of a part that starts at `start`, due when its stop bit has gone out.
void AddBytewise(LinePart& part, LineClock::time_point start, int baudRate,
                 std::vector<TimedWrite>& writes) {
  for (std::size_t i = 0; i < part.bytes.size(); ++i) {
    writes.push_back({start + LineTime(i + 1, baudRate), {part.bytes[i]}, {}});
  }
  if (!part.bytes.empty()) writes.back().writes = std::move(part.writes);
}

}  // namespace

std::vector<TimedWrite> ScheduleResponse(LineResponse response, LineClock::time_point requestEnd,
                                         int baudRate, const LinePace& pace) {
  if (pace.instant) return AllAtOnce(std::move(response), requestEnd);
  std::vector<TimedWrite> writes;
  LineClock::time_point free = requestEnd;
  for (LinePart& part : response.parts) {
    if (part.echo) {
      writes.push_back({requestEnd, std::move(part.bytes), std::move(part.writes)});
      continue;
    }
    const LineClock::time_point start = std::max(requestEnd + pace.turnaround + part.delay, free);
    free = start + LineTime(part.bytes.size(), baudRate);
    AddBytewise(part, start, baudRate, writes);
  }
  return writes;
}
