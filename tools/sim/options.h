// The simulator's command line.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/sim/detector_model.h"

struct SimOptions {
  DetectorStart start;
  Fault fault = Fault::kNone;
  std::optional<int> comNumber;  // make the comN link for this port number
  std::string portsDir;          // where the link goes; empty for the default folder
  bool verbose = false;
};

struct ParsedArgs {
  SimOptions options;
  bool help = false;
  std::string error;  // set when the command line cannot be used
};

ParsedArgs ParseArgs(std::span<const std::string_view> args);
std::string Usage();

// A whole decimal number from 0 to `max`; nothing else (no sign, blanks or trailing text).
std::optional<unsigned> ParseNumber(std::string_view text, unsigned max);
