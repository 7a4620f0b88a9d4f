// The simulator's standard-input commands, which change the detector while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/sim/detector_bus.h"

struct CommandOutcome {
  std::string reply;  // one line: "ok ..." or "error: ..."; empty for an empty line
  bool quit = false;
};

// Runs one line, whatever bytes it holds, on the bus's first detector, on the one `at` an
// address names or, for a burst, on the line; a bad line changes nothing and says why. `requestsHeard` is what the requests
// command reports.
CommandOutcome RunCommand(DetectorBus& bus, std::uint64_t requestsHeard, std::string_view line);

// The command summary for --help, which prints it after the faults.
std::string_view CommandHelp();
