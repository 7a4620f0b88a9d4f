#include "search/line_timed_wait.h"

#include "serial/line_time.h"

namespace {
constexpr std::size_t kRequestBytes = 8;
}  // namespace

unsigned LineTimedProbeWaitMs(int baudRate) {
  return LineTimeMs(kRequestBytes + 1, baudRate) + kTurnaroundAllowanceMs;
}
