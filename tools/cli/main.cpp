// kl395-cli: the detector's operations from the command line, for scripts, headless
// monitoring and quick checks without the window.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/detector.h"
#include "search/search_messages.h"
#include "search/search_worker.h"
#include "serial/rtu.h"
#include "serial/standard_streams.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/frame_trace.h"
#include "tools/cli/poll_command.h"
#include "tools/cli/stop_signals.h"
#include "ui/number_text.h"

namespace {

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

// The device the options name, resolved once: COM n is looked up at the start, so that a
// link that changes mid-scan cannot send later probes to another device. Empty when COM n
// has none.
std::string ChosenDevice(const CliOptions& options) {
  return options.devicePath.empty() ? CommPortDevice(options.portNumber) : options.devicePath;
}

CommHandle OpenDevice(const std::string& device, const CliOptions& options, int baudRate) {
  if (device.empty()) return CommHandle();
  const CommHandle port = OpenCommDevice(device, baudRate);
  if (port) SetCommLocalEcho(port, options.echo);
  return port;
}

// A port for one probe of the search. With --wait the technician chose speed: a probe to
// which nothing came in that time ends there.
CommHandle OpenProbedDevice(const std::string& device, const CliOptions& options, int baudRate) {
  const CommHandle port = OpenDevice(device, options, baudRate);
  if (port && options.probeWaitMs) SetCommSilenceEndsWait(port, true);
  return port;
}

// Tells why the port did not open, from the error of this thread's last open.
int PortTrouble(const CliOptions& options, const std::string& device) {
  std::fprintf(stderr, "kl395-cli: %s\n",
               PortTroubleMessage(options, device, LastCommError()).c_str());
  return kPortTrouble;
}

// The lines a single command prints; nothing when no valid reply came.
std::optional<std::string> Exchange(CommHandle port, const CliOptions& options) {
  const int address = options.address;
  const auto done = [](bool ok, const char* text) {
    return ok ? std::optional<std::string>(text) : std::nullopt;
  };
  switch (options.command) {
    case CliCommand::kReadStatus: {
      const auto status = ReadStatus(port, address);
      if (!status) return std::nullopt;
      return FormatText("leak: %s\nalarm: %u (%s)\n", status->leak ? "yes" : "no",
                        unsigned{status->alarmType}, AlarmName(status->alarmType));
    }
    case CliCommand::kReadVersion: {
      const auto version = ReadVersion(port, address);
      if (!version) return std::nullopt;
      return FormatOneDecimal("version: %.1f\n", *version);
    }
    case CliCommand::kReadSensitivity: {
      const auto value = ReadSensitivity(port, address);
      if (!value) return std::nullopt;
      return FormatText("sensitivity: %u (%s)\n", unsigned{*value}, SensitivityName(*value));
    }
    case CliCommand::kReadVoltage: {
      const auto volts = ReadVoltage(port, address);
      if (!volts) return std::nullopt;
      return FormatOneDecimal("voltage: %.1f V\n", static_cast<double>(*volts));
    }
    case CliCommand::kSetSensitivity:
      return done(WriteSensitivity(port, address, options.value), "sensitivity set\n");
    case CliCommand::kSetAddress:
      return done(WriteAddress(port, address, options.value), "address set\n");
    case CliCommand::kSetBaud:
      return done(WriteBaudCode(port, address, BaudCode(options.value)), "baud rate set\n");
    case CliCommand::kSearch:
    case CliCommand::kPoll:
      break;  // RunSearch and RunPoll use ports of their own
  }
  return std::nullopt;
}

// One exchange. The port is closed before anything is printed, so that no write of ours,
// not even one that ends the program (SIGPIPE), happens while the port is held; a trace's
// lines, written as they happen, are kept from ending it.
int RunCommand(const CliOptions& options, const std::string& device) {
  CatchStopSignals();
  const CommHandle port = OpenDevice(device, options, options.baudRate);
  if (!port) return PortTrouble(options, device);
  const std::optional<std::string> result = Exchange(port, options);
  CloseCommPort(port);
  TraceExchangeOutcome(LastExchangeOutcome(), options.echo);
  if (result) {
    std::fputs(result->c_str(), stdout);
  } else {
    std::fprintf(stderr, "kl395-cli: %s\n",
                 ExchangeFailure(LastExchangeOutcome(), options.echo).c_str());
  }
  if (StopRequested()) {
    std::fprintf(stderr, "kl395-cli: stopped\n");
    return kInterrupted;
  }
  return result ? kDone : kNoReply;
}

// What a search tells: each miss on standard error, and their causes at the end; with
// --all each find on standard output as it comes.
class SearchProgress {
 public:
  explicit SearchProgress(const CliOptions& options) : options_(options) {}

  bool Report(int message) {
    // Every report follows a probe but the one that tells the scan is over.
    if (!g_searchError.empty()) return true;
    const ExchangeOutcome& outcome = LastExchangeOutcome();
    TraceExchangeOutcome(outcome, options_.echo);
    if (message == WM_SEARCH_PROGRESS) {
      misses_.Count(outcome.result);
      std::fprintf(stderr, "%s\n",
                   ProbeMissLine(g_searchBaud, g_searchAddress, outcome, options_.echo).c_str());
    } else if (options_.searchAll) {
      ++found_;
      std::printf("%d baud, address %d\n", g_searchBaud, g_foundAddress);
      std::fflush(stdout);
    }
    return true;
  }

  // The misses by cause, and scanning on, how many answered.
  void PrintEnd() const {
    if (const std::string summary = MissSummary(misses_); !summary.empty()) {
      std::fprintf(stderr, "kl395-cli: %s\n", summary.c_str());
    }
    if (options_.searchAll && found_ > 0) {
      std::fprintf(stderr, "kl395-cli: %d %s\n", found_,
                   found_ == 1 ? "detector answered" : "detectors answered");
    }
  }

  int found() const { return found_; }

 private:
  const CliOptions& options_;
  ResultTally misses_;
  int found_ = 0;
};

// The scan runs on this thread: its reports are plain calls, and the open errors it leaves
// are this thread's.
int RunSearch(const CliOptions& options, const std::string& device) {
  if (device.empty()) return PortTrouble(options, device);
  if (const std::string warning = ShortWaitWarning(options); !warning.empty()) {
    std::fprintf(stderr, "kl395-cli: %s\n", warning.c_str());
  }
  g_searchRateEnabled = options.searchRates;
  g_searchError.clear();
  g_searchActive = 1;
  CatchStopSignals();
  // The port trouble is told below in the command line's own words, not the window's.
  SearchProgress progress(options);
  const SearchWindow reports{[&](int message) { return progress.Report(message); },
                             [](std::string_view) {}};
  const SearchEnd end = SearchWorker(
      reports, [&](int, int baudRate) { return OpenProbedDevice(device, options, baudRate); },
      SearchScope{.scanOn = options.searchAll,
                  .probeWaitMs = options.probeWaitMs.value_or(kProbeWaitMs)});
  switch (end) {
    case SearchEnd::kFound:
      std::printf("baud: %d\naddress: %d\n", g_searchBaud, g_foundAddress);
      return kDone;
    case SearchEnd::kExhausted:
      progress.PrintEnd();
      if (progress.found() > 0) return kDone;
      std::fprintf(stderr, "kl395-cli: no detector answered at any address\n");
      return kNoReply;
    case SearchEnd::kStopped:
      progress.PrintEnd();
      std::fprintf(stderr, "kl395-cli: search stopped\n");
      return kInterrupted;
    case SearchEnd::kPortTrouble:
      return PortTrouble(options, device);
  }
  return kNoReply;
}

int Poll(const CliOptions& options, const std::string& device) {
  const std::optional<int> status = RunPoll(options, device);
  return status ? *status : PortTrouble(options, device);
}

int BadArguments(const std::string& complaint) {
  std::fprintf(stderr, "kl395-cli: %s\n(kl395-cli --help lists the options)\n", complaint.c_str());
  return kBadArguments;
}

// A result is only done once it has reached standard output: a full disk or a failing device
// must not pass for success, least of all after a set-* command has changed the detector.
int FinishOutput(int status) {
  const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  const int flushError = errno;
  if (std::fclose(stdout) == 0 && flushed) return status;
  std::fprintf(stderr, "kl395-cli: cannot write the result: %s\n",
               std::strerror(flushed ? errno : flushError));
  return kOutputLost;
}

int Run(const CliParse& parse) {
  if (parse.helpRequested) {
    std::fputs(parse.message.c_str(), stdout);
    return kDone;
  }
  if (!parse.options) return BadArguments(parse.message);
  const CliOptions& options = *parse.options;
  const std::string device = ChosenDevice(options);
  if (options.trace) StartFrameTrace();
  switch (options.command) {
    case CliCommand::kSearch:
      return RunSearch(options, device);
    case CliCommand::kPoll:
      return Poll(options, device);
    default:
      return RunCommand(options, device);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ReserveStandardStreams();
  return FinishOutput(Run(ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc))));
}
