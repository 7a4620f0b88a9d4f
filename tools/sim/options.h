// The simulator's command line.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sim/detector_bus.h"
#include "tools/sim/line_pace.h"

struct SimOptions {
  DetectorStart start;
  Fault fault = Fault::kNone;
  std::vector<DetectorStart> others;  // --also: the address and version of each
  std::optional<int> comNumber;       // make the comN link for this port number
  std::string portsDir;               // where the link goes; empty for the default folder
  LinePace pace;                      // a real line's time, or --instant replies
  bool verbose = false;
};

struct ParsedArgs {
  SimOptions options;
  bool help = false;
  std::string error;  // set when the command line cannot be used
};

ParsedArgs ParseArgs(std::span<const std::string_view> args);
std::string Usage();

// The detectors the options put on the line: the first with its fault, then each --also one
// at the first one's baud rate.
DetectorBus MakeBus(const SimOptions& options);

// A whole decimal number from 0 to `max`; nothing else (no sign, blanks or trailing text).
std::optional<unsigned> ParseNumber(std::string_view text, unsigned max);
