// kl395-cli: the detector's operations from the command line, for scripts, headless
// monitoring and quick checks without the window.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "device/detector.h"
#include "search/search_messages.h"
#include "search/search_worker.h"
#include "tools/cli/cli_options.h"

namespace {

// 130: the shells' status for a program ended by Ctrl-C.
enum ExitCode { kDone = 0, kNoReply = 1, kBadArguments = 2, kPortTrouble = 3, kInterrupted = 130 };

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

const char* SensitivityName(unsigned value) {
  switch (value) {
    case 1:
      return "high";
    case 2:
      return "medium";
    case 3:
      return "low";
    default:
      return "unknown";
  }
}

const char* PortTroubleReason(CommErrorKind kind) {
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

int NoReply() {
  std::fprintf(stderr, "kl395-cli: no valid reply from the detector\n");
  return kNoReply;
}

int Report(bool ok, const char* done) {
  if (!ok) return NoReply();
  std::printf("%s\n", done);
  return kDone;
}

CommHandle OpenPort(const CliOptions& options, int baudRate) {
  return options.devicePath.empty() ? OpenCommPort(options.portNumber, baudRate)
                                    : OpenCommDevice(options.devicePath, baudRate);
}

// Tells why the port did not open, from the error of this thread's last open.
int PortTrouble(const CliOptions& options) {
  const std::string name =
      options.devicePath.empty() ? "COM" + std::to_string(options.portNumber) : options.devicePath;
  const CommError& error = LastCommError();
  std::fprintf(stderr, "kl395-cli: serial port %s: %s%s%s\n", name.c_str(),
               PortTroubleReason(error.kind), error.message.empty() ? "" : ": ",
               error.message.c_str());
  return kPortTrouble;
}

int RunCommand(CommHandle port, const CliOptions& options) {
  const int address = options.address;
  switch (options.command) {
    case CliCommand::kReadStatus: {
      auto status = ReadStatus(port, address);
      if (!status) return NoReply();
      std::printf("leak: %s\nalarm: %u (%s)\n", status->leak ? "yes" : "no",
                  unsigned{status->alarmType}, AlarmName(status->alarmType));
      return kDone;
    }
    case CliCommand::kReadVersion: {
      auto version = ReadVersion(port, address);
      if (!version) return NoReply();
      std::printf("version: %.1f\n", *version);
      return kDone;
    }
    case CliCommand::kReadSensitivity: {
      auto value = ReadSensitivity(port, address);
      if (!value) return NoReply();
      std::printf("sensitivity: %u (%s)\n", unsigned{*value}, SensitivityName(*value));
      return kDone;
    }
    case CliCommand::kReadVoltage: {
      auto volts = ReadVoltage(port, address);
      if (!volts) return NoReply();
      std::printf("voltage: %.1f V\n", static_cast<double>(*volts));
      return kDone;
    }
    case CliCommand::kSetSensitivity:
      return Report(WriteSensitivity(port, address, options.value), "sensitivity set");
    case CliCommand::kSetAddress:
      return Report(WriteAddress(port, address, options.value), "address set");
    case CliCommand::kSetBaud:
      return Report(WriteBaudCode(port, address, BaudCode(options.value)), "baud rate set");
    case CliCommand::kSearch:
      break;  // RunSearch opens the port itself, at each rate
  }
  return kBadArguments;
}

// The worker tests the flag before each probe, so the probe under way still ends and reports.
// A second Ctrl-C ends the program at once.
void StopSearch(int) {
  g_searchActive = 0;
  std::signal(SIGINT, SIG_DFL);
}

bool PrintProgress(int message) {
  if (message == WM_SEARCH_PROGRESS && g_searchError.empty()) {
    std::fprintf(stderr, "no reply at %d baud from address %d\n", g_searchBaud, g_searchAddress);
  }
  return true;
}

// The scan runs on this thread: its reports are plain calls, and the open errors it leaves
// are this thread's.
int RunSearch(const CliOptions& options) {
  g_searchRateEnabled = options.searchRates;
  g_searchError.clear();
  g_searchActive = 1;
  std::signal(SIGINT, StopSearch);
  // The port trouble is told below in the command line's own words, not the window's.
  const SearchWindow reports{PrintProgress, [](std::string_view) {}};
  const SearchEnd end =
      SearchWorker(reports, [&](int, int baudRate) { return OpenPort(options, baudRate); });
  switch (end) {
    case SearchEnd::kFound:
      std::printf("baud: %d\naddress: %d\n", g_searchBaud, g_foundAddress);
      return kDone;
    case SearchEnd::kExhausted:
      std::fprintf(stderr, "kl395-cli: no detector answered at any address\n");
      return kNoReply;
    case SearchEnd::kStopped:
      std::fprintf(stderr, "kl395-cli: search stopped\n");
      return kInterrupted;
    case SearchEnd::kPortTrouble:
      return PortTrouble(options);
  }
  return kNoReply;
}

}  // namespace

int main(int argc, char** argv) {
  const CliParse parse = ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parse.options) {
    if (parse.helpRequested) {
      std::fputs(parse.message.c_str(), stdout);
      return kDone;
    }
    std::fprintf(stderr, "kl395-cli: %s\n(kl395-cli --help lists the options)\n",
                 parse.message.c_str());
    return kBadArguments;
  }
  const CliOptions& options = *parse.options;
  if (options.command == CliCommand::kSearch) return RunSearch(options);
  const CommHandle port = OpenPort(options, options.baudRate);
  if (!port) return PortTrouble(options);
  const int result = RunCommand(port, options);
  CloseCommPort(port);
  return result;
}
