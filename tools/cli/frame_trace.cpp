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

bool g_tracing = false;
// The first frame's time, for the time column.
std::optional<Clock::time_point> g_firstFrame;

// Flushed at once, so that each line shows as it happens.
void WriteError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void TraceFrame(const FrameEvent& event) {
  if (event.bytes.empty()) return;
  if (!g_firstFrame) g_firstFrame = event.at;
  const auto since =
      std::chrono::duration_cast<std::chrono::milliseconds>(event.at - *g_firstFrame);
  WriteError(TraceFrameLine(since, event.direction, event.bytes));
}

}  // namespace

void StartFrameTrace() {
  IgnoreBrokenPipes();
  g_tracing = true;
  SetFrameObserver(TraceFrame);
}

void TraceExchangeOutcome(const ExchangeOutcome& outcome, bool echo) {
  if (g_tracing) WriteError(TraceOutcomeLine(outcome, echo));
}
