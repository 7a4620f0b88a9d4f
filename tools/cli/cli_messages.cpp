#include "tools/cli/cli_messages.h"

#include <filesystem>

#include "tools/text/printable_text.h"

namespace {

// What stands at the path, when that and not the open's error says why it is no port: the
// system files a directory under "not found" and a plain file under the line settings.
std::string WhatIsThere(const std::string& device) {
  std::error_code ignored;
  const auto status = std::filesystem::status(device, ignored);
  if (std::filesystem::is_directory(status)) return "is a directory, not a serial device";
  if (std::filesystem::is_regular_file(status)) return "is a file, not a serial device";
  return {};
}

const char* KindReason(CommErrorKind kind) {
  switch (kind) {
    case CommErrorKind::kBusy:
      return "in use by another program";
    case CommErrorKind::kPermission:
      return "not permitted";
    case CommErrorKind::kConfiguration:
      return "refused the line settings";
    default:
      return "not found";
  }
}

// The system's words without the device path the backends put first, which the message
// has already given.
std::string_view SystemWords(const std::string& device, std::string_view message) {
  const std::string prefix = device + ": ";
  if (message.starts_with(prefix)) message.remove_prefix(prefix.size());
  return message;
}

}  // namespace

std::string PortTroubleMessage(const CliOptions& options, const std::string& device,
                               const CommError& error) {
  const bool named = !options.devicePath.empty();
  const std::string com = "COM" + std::to_string(options.portNumber);
  if (device.empty()) {
    return "serial port " + com + ": not found: no link com" + std::to_string(options.portNumber) +
           " names it, and there are fewer than " + std::to_string(options.portNumber) +
           " serial devices";
  }
  const std::string where =
      "serial port " + (named ? Quoted(device) : com + " (" + Quoted(device) + ")");
  if (const std::string what = WhatIsThere(device); !what.empty()) return where + ": " + what;
  const std::string_view words = SystemWords(device, error.message);
  return where + ": " + KindReason(error.kind) + (words.empty() ? "" : ": " + Printable(words));
}
