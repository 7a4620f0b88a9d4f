#include "tools/cli/cli_messages.h"

#include <algorithm>
#include <filesystem>

#include "device/detector.h"
#include "device/exchange_texts.h"
#include "search/line_timed_wait.h"
#include "serial/line_url.h"
#include "tools/text/printable_text.h"
#include "ui/number_text.h"

namespace {

// The width of a trace line's time and the blank after it: "   0.011 ".
constexpr std::size_t kTraceIndent = 9;

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
    case CommErrorKind::kNotSerial:
      return "not a serial device";
    case CommErrorKind::kReplaced:
      return "not the device chosen";
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

// The reason, with the program that holds the port when it could be seen; a program's name
// says more than the system's words about a lock. A connection's words name their cause.
std::string Refusal(const std::string& device, const CommError& error) {
  if (IsConnectionFailure(error.kind)) return Printable(error.message);
  if (error.kind == CommErrorKind::kBusy && error.holderPid > 0) {
    return "in use by " + Printable(error.holderCommand) + " (pid " +
           std::to_string(error.holderPid) + ")";
  }
  const std::string_view words = SystemWords(device, error.message);
  const std::string reason = KindReason(error.kind);
  return words.empty() || words == reason ? reason : reason + ": " + Printable(words);
}

// How to get the right to open a device of a group, on lines of their own. Joining root's
// group would give away far more than a serial port, so that is not suggested.
std::string GroupRemedy(const CommError& error) {
  if (error.kind != CommErrorKind::kPermission || error.group.empty()) return {};
  const std::string group = Printable(error.group);
  if (error.group == "root") {
    return "\n  only root may open it; ask whoever runs this machine for access to it";
  }
  return "\n  only members of group " + group +
         " may open it; to join it, on Debian and Ubuntu:" + "\n    sudo usermod -aG " + group +
         " $USER\n  then log in again";
}

// A reply came, but not one the request asked for.
bool IsGarbled(ExchangeResult result) {
  switch (result) {
    case ExchangeResult::kShort:
    case ExchangeResult::kTooLong:
    case ExchangeResult::kBadCrc:
    case ExchangeResult::kWrongAddress:
    case ExchangeResult::kWrongFunction:
    case ExchangeResult::kWrongByteCount:
    case ExchangeResult::kWrongConfirmation:
      return true;
    default:
      return false;
  }
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
  const std::string what = named && IsLineUrl(device) ? "network line " : "serial port ";
  const std::string where = what + (named ? Quoted(device) : com + " (" + Quoted(device) + ")");
  if (const std::string what = WhatIsThere(device); !what.empty()) return where + ": " + what;
  return where + ": " + Refusal(device, error) + GroupRemedy(error);
}

std::string ExchangeFailure(const ExchangeOutcome& outcome, bool echo) {
  return "no valid reply from the detector: " + ExchangeSummary(outcome, echo) + "\n  " +
         std::string(WhatToCheck(outcome, echo));
}

std::string TraceFrameLine(std::chrono::milliseconds sinceFirst, FrameDirection direction,
                           std::span<const std::uint8_t> bytes) {
  const long long ms = sinceFirst.count();
  return FormatText("%4lld.%03lld %s %s\n", ms / 1000, ms % 1000,
                    direction == FrameDirection::kSent ? "TX" : "RX", HexBytes(bytes).c_str());
}

std::string TraceOutcomeLine(const ExchangeOutcome& outcome, bool echo) {
  std::string line = std::string(kTraceIndent, ' ') + ExchangeSummary(outcome, echo);
  if (const std::string stale = StaleNote(outcome); !stale.empty()) line += "; " + stale;
  return line + "\n";
}

const char* AlarmName(unsigned alarmType) {
  switch (alarmType) {
    case 0:
      return "none";
    case 1:
      return "optical";
    case 2:
      return "probe";
    case 3:
      return "optical and probe";
    default:
      return "unknown";
  }
}

std::uint64_t ResultTally::Total() const {
  std::uint64_t total = 0;
  for (const auto& [result, count] : counts_) total += count;
  return total;
}

std::string ResultTally::Causes() const {
  std::string causes;
  for (const auto& [result, count] : counts_) {
    if (!causes.empty()) causes += ", ";
    causes.append(std::to_string(count)).append(" ").append(BriefCause(result));
  }
  return causes;
}

std::string MissSummary(const ResultTally& misses) {
  const std::uint64_t total = misses.Total();
  if (total == 0) return {};
  return std::to_string(total) + (total == 1 ? " probe" : " probes") +
         " missed: " + misses.Causes();
}

std::string ProbeMissLine(const std::string& rate, int address, const ExchangeOutcome& outcome,
                          bool echo) {
  const std::string where = "at " + rate + " from address " + std::to_string(address);
  if (outcome.result == ExchangeResult::kNoReply) return "no reply " + where;
  return (IsGarbled(outcome.result) ? "garbled reply " : "no valid reply ") + where + ": " +
         ExchangeSummary(outcome, echo) + " (" + std::string(WhatToCheck(outcome, echo)) + ")";
}

std::string LineRateText(const ResolvedPort& port, int baudRate) {
  return port.rateFixed ? "the gateway's rate" : std::to_string(baudRate) + " baud";
}

std::string ShortWaitWarning(const CliOptions& options) {
  if (!options.probeWaitMs) return {};
  // The slowest rate named leaves a detector the least time.
  const auto slowest = std::find(options.searchRates.begin(), options.searchRates.end(), 1);
  if (slowest == options.searchRates.end()) return {};
  const int rate = kBaudRates[static_cast<std::size_t>(slowest - options.searchRates.begin())];
  // Before any reply can have begun, the request and the reply's first byte take their time.
  const unsigned lineMs = LineTimedProbeWaitMs(rate) - kTurnaroundAllowanceMs;
  const unsigned waitMs = *options.probeWaitMs;
  if (waitMs >= lineMs + kTurnaroundAllowanceMs) return {};
  const std::string at = "at " + std::to_string(rate) + " baud";
  const std::string wait = "--wait " + std::to_string(waitMs);
  const std::string line = at + " a probe's request and the first byte of its reply";
  if (waitMs <= lineMs) {
    return line + " alone take " + std::to_string(lineMs) + " ms, so " + wait +
           " leaves no time for a detector to answer there; --wait auto waits " +
           std::to_string(LineTimedProbeWaitMs(rate)) + " ms there";
  }
  return line + " take " + std::to_string(lineMs) + " ms, so " + wait + " leaves a detector only " +
         std::to_string(waitMs - lineMs) + " ms to start its reply there; --wait auto leaves it " +
         std::to_string(kTurnaroundAllowanceMs) + " ms at every rate";
}
