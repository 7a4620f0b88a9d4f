// The command line's own messages about what the user gave it, apart from I/O so that they
// can be tested on their own.
#pragma once

#include <string>
#include <string_view>

#include "serial/comm_port.h"
#include "tools/cli/cli_options.h"
#include "tools/text/printable_text.h"

// Why the port did not open: "serial port ", COM n and the device it stands for (none when
// `device` is empty) or the --device path, the reason in the tool's words and the system's.
std::string PortTroubleMessage(const CliOptions& options, const std::string& device,
                               const CommError& error);
