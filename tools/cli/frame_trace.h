// --trace: every write and read of every port on standard error as it happens, timed from
// the first frame, and after each exchange how it ended.
#pragma once

#include "serial/rtu.h"

// Observes every port from now on. The tool's exchanges all run on its main thread, which
// is where the trace is kept.
void StartFrameTrace();

// While tracing, the line that tells how the exchange just traced ended; nothing otherwise.
void TraceExchangeOutcome(const ExchangeOutcome& outcome, bool echo);
