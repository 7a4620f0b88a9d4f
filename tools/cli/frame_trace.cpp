#include "tools/cli/frame_trace.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "serial/comm_port.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// The first frame's time, for the time column, and the last request's and reply's, for the
// reply time.
struct TraceTimes {
  bool on = false;
  std::optional<Clock::time_point> first;
  Clock::time_point lastSent;
  std::optional<Clock::time_point> lastReceived;  // since lastSent
};

TraceTimes g_trace;

std::chrono::milliseconds Between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from);
}

// Flushed at once, so that each line shows as it happens.
void WriteError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void TraceFrame(const FrameEvent& event) {
  if (event.bytes.empty()) return;
  if (!g_trace.first) g_trace.first = event.at;
  if (event.direction == FrameDirection::kSent) {
    g_trace.lastSent = event.at;
    g_trace.lastReceived.reset();
  } else {
    g_trace.lastReceived = event.at;
  }
  WriteError(TraceFrameLine(Between(*g_trace.first, event.at), event.direction, event.bytes));
}

}  // namespace

void StartFrameTrace() {
  IgnoreBrokenPipes();
  g_trace.on = true;
  SetFrameObserver(TraceFrame);
}

void TraceExchangeOutcome(const ExchangeOutcome& outcome, bool echo) {
  if (!g_trace.on) return;
  // The reply time from the frames' own times: the exchange's clock also counts the time
  // the trace took to write the request's line, which on a busy machine can be milliseconds.
  ExchangeOutcome timed = outcome;
  if (g_trace.lastReceived) timed.replyTime = Between(g_trace.lastSent, *g_trace.lastReceived);
  WriteError(TraceOutcomeLine(timed, echo));
}
