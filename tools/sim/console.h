// The simulator's standard-input commands, which change the detector while it runs.
#pragma once

#include <string>
#include <string_view>

#include "tools/sim/detector_model.h"

struct CommandOutcome {
  std::string reply;  // one line: "ok ..." or "error: ..."; empty for an empty line
  bool quit = false;
};

// Runs one line; a bad line changes nothing and says why.
CommandOutcome RunCommand(DetectorModel& model, std::string_view line);

// The command summary for --help and error texts.
std::string_view CommandHelp();
