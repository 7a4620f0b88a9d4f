// kl395-cli poll: the window's acquisition for scripts and logs.
#pragma once

#include <optional>
#include <string>

#include "serial/comm_port.h"
#include "tools/cli/cli_options.h"

// Polls the chosen port until --count, a stop signal or a failed write to standard output.
// The exit status; none when the port did not open (LastCommError says why).
std::optional<int> RunPoll(const CliOptions& options, const ResolvedPort& chosen);
