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
#include "tools/cli/search_progress_line.h"
#include "tools/cli/stop_signals.h"
#include "ui/number_text.h"

namespace {

// How long a set command's confirmation waits for the detector, as any of its exchanges.
constexpr unsigned kConfirmWaitMs = 1000;

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

// The port the options name, resolved once: COM n is looked up at the start, so that a link
// that changes mid-scan cannot send later probes to another device, and a device that
// another takes the name of is refused rather than used.
ResolvedPort ChosenPort(const CliOptions& options) {
  return options.devicePath.empty() ? ResolveCommPort(options.portNumber)
                                    : ResolveCommDevice(options.devicePath);
}

CommHandle OpenDevice(const ResolvedPort& chosen, const CliOptions& options, int baudRate) {
  const CommHandle port = OpenResolvedPort(chosen, baudRate);
  if (port) SetCommLocalEcho(port, options.echo);
  return port;
}

// A port for one probe of the search. With --wait the technician chose speed: a probe to
// which nothing came in that time ends there, and one whose reply has begun gets the line's
// time for the rest of it, however short the wait.
CommHandle OpenProbedDevice(const ResolvedPort& chosen, const CliOptions& options, int baudRate) {
  const CommHandle port = OpenDevice(chosen, options, baudRate);
  if (port && ProbeWaitChosen(options)) {
    SetCommSilenceEndsWait(port, true);
    SetCommReadsBegunReply(port, true);
  }
  return port;
}

// Tells why the port did not open, from the error of this thread's last open.
int PortTrouble(const CliOptions& options, const std::string& device) {
  std::fprintf(stderr, "kl395-cli: %s\n",
               PortTroubleMessage(options, device, LastCommError()).c_str());
  return kPortTrouble;
}

// How a single command ended: its result for standard output, or why it has none.
struct CommandEnd {
  std::optional<std::string> result;
  std::string failure;
  bool landed = false;  // a set-* command's write was acknowledged: the detector has changed
};

CommandEnd Failed(const ExchangeOutcome& outcome, bool echo) {
  return {std::nullopt, ExchangeFailure(outcome, echo)};
}

template <typename Value>
const Exchanged<Value>& Traced(const Exchanged<Value>& exchanged, const CliOptions& options) {
  TraceExchangeOutcome(exchanged.outcome, options.echo);
  return exchanged;
}

// A read's result, as `show` words its value.
template <typename Value, typename Show>
CommandEnd Shown(const Exchanged<Value>& read, const CliOptions& options, Show show) {
  Traced(read, options);
  if (!read) return Failed(read.outcome, options.echo);
  return {show(*read), {}};
}

CommandEnd RunRead(CommHandle port, const CliOptions& options) {
  const int address = options.address;
  switch (options.command) {
    case CliCommand::kReadStatus:
      return Shown(ReadStatus(port, address), options, [](const DetectorStatus& status) {
        return FormatText("leak: %s\nalarm: %u (%s)\n", status.leak ? "yes" : "no",
                          unsigned{status.alarmType}, AlarmName(status.alarmType));
      });
    case CliCommand::kReadVersion:
      return Shown(ReadVersion(port, address), options,
                   [](double version) { return FormatOneDecimal("version: %.1f\n", version); });
    case CliCommand::kReadSensitivity:
      return Shown(ReadSensitivity(port, address), options, [](std::uint16_t value) {
        return FormatText("sensitivity: %u (%s)\n", unsigned{value}, SensitivityName(value));
      });
    default:
      return Shown(ReadVoltage(port, address), options, [](float volts) {
        return FormatOneDecimal("voltage: %.1f V\n", static_cast<double>(volts));
      });
  }
}

// A write the detector acknowledged, told as `done` ("address set to 9"), and how its
// confirmation went. From the acknowledgement on, even a second stop reports it: a script
// told that the write failed would repeat it, at an address or rate no longer the
// detector's.
class LandedWrite {
 public:
  explicit LandedWrite(std::string done, std::string hint = {})
      : done_(std::move(done)), hint_(std::move(hint)) {
    SetEndingReport(StoppedText(), true, kDone);
  }
  CommandEnd Confirmed() const { return {done_ + " (confirmed)" + hint_ + "\n", {}, true}; }
  // A stop came before the confirmation, which is then not made.
  CommandEnd Stopped() const { return {StoppedText(), {}, true}; }
  // A stop that came while the confirmation was under way leaves it unmade, not failed.
  CommandEnd NotConfirmed(const std::string& why) const {
    if (StopRequested()) return Stopped();
    return {std::nullopt, done_ + " was acknowledged, but not confirmed: " + why, true};
  }
  // What the confirming exchange, `check` ("reading it back"), saw instead.
  CommandEnd NotConfirmed(const std::string& check, const ExchangeOutcome& seen, bool echo) const {
    if (seen.result == ExchangeResult::kEcho) {
      return NotConfirmed(
          "only an echo of the request came back, from an adapter that echoes what it sends "
          "(use --echo); no detector answered");
    }
    return NotConfirmed(check + " gave " + ExchangeSummary(seen, echo) + "\n  " +
                        std::string(WhatToCheck(seen, echo)));
  }

 private:
  std::string StoppedText() const { return done_ + " (stopped before it was confirmed)\n"; }

  std::string done_;
  std::string hint_;
};

CommandEnd SetSensitivity(CommHandle port, const CliOptions& options) {
  const Written write = Traced(WriteSensitivity(port, options.address, options.value), options);
  if (!write) return Failed(write.outcome, options.echo);
  const LandedWrite landed("sensitivity set to " + std::to_string(options.value));
  if (StopRequested()) return landed.Stopped();
  const auto back = Traced(ReadSensitivity(port, options.address), options);
  if (!back) return landed.NotConfirmed("reading it back", back.outcome, options.echo);
  if (*back != options.value) {
    return landed.NotConfirmed("the detector reads back sensitivity " + std::to_string(*back));
  }
  return landed.Confirmed();
}

CommandEnd SetAddress(CommHandle port, const CliOptions& options) {
  const Written write = Traced(WriteAddress(port, options.address, options.value), options);
  if (!write) return Failed(write.outcome, options.echo);
  const std::string address = std::to_string(options.value);
  const LandedWrite landed("address set to " + address, ": from now on use --address " + address);
  if (StopRequested()) return landed.Stopped();
  const Written probe = Traced(ProbeAddress(port, options.value, kConfirmWaitMs), options);
  if (!probe) {
    return landed.NotConfirmed("a probe at address " + address, probe.outcome, options.echo);
  }
  return landed.Confirmed();
}

// The detector takes its new rate after its reply, so the port is opened again at that rate
// and the detector probed there.
// On a line whose rate is the gateway's, the detector is reached at the new rate only once
// the gateway has been set to it too, which no open of ours does.
CommandEnd GatewayToSetToo(const CliOptions& options, const ResolvedPort& chosen) {
  const std::string rate = std::to_string(options.value);
  const std::string url = chosen.gatewayBaud != 0 ? " and its URL's ?baud= to " + rate : "";
  return {"baud rate set to " + rate +
              "; this line runs at the gateway's rate: set the gateway to " + rate + " baud too" +
              url + " to reach the detector again\n",
          {},
          true};
}

CommandEnd SetBaud(CommHandle& port, const ResolvedPort& chosen, const CliOptions& options) {
  const Written write =
      Traced(WriteBaudCode(port, options.address, BaudCode(options.value)), options);
  if (!write) return Failed(write.outcome, options.echo);
  if (chosen.rateFixed) return GatewayToSetToo(options, chosen);
  const std::string rate = std::to_string(options.value);
  const LandedWrite landed("baud rate set to " + rate, ": from now on use --baud " + rate);
  if (StopRequested()) return landed.Stopped();
  CloseCommPort(port);
  port = OpenDevice(chosen, options, options.value);
  if (!port) {
    return landed.NotConfirmed("the port did not open again at " + rate +
                               " baud: " + LastCommError().message);
  }
  const Written probe = Traced(ProbeAddress(port, options.address, kConfirmWaitMs), options);
  if (!probe) {
    return landed.NotConfirmed("a probe at " + rate + " baud", probe.outcome, options.echo);
  }
  return landed.Confirmed();
}

CommandEnd RunSet(CommHandle& port, const ResolvedPort& chosen, const CliOptions& options) {
  switch (options.command) {
    case CliCommand::kSetSensitivity:
      return SetSensitivity(port, options);
    case CliCommand::kSetAddress:
      return SetAddress(port, options);
    default:
      return SetBaud(port, chosen, options);
  }
}

bool IsSet(CliCommand command) {
  return command == CliCommand::kSetSensitivity || command == CliCommand::kSetAddress ||
         command == CliCommand::kSetBaud;
}

// One command. The port is closed before anything is printed, so that no write of ours,
// not even one that ends the program (SIGPIPE), happens while the port is held; a trace's
// lines, written as they happen, are kept from ending it.
int RunCommand(const CliOptions& options, const ResolvedPort& chosen) {
  CatchStopSignals();
  CommHandle port = OpenDevice(chosen, options, options.baudRate);
  if (!port) return PortTrouble(options, chosen.device);
  const CommandEnd end =
      IsSet(options.command) ? RunSet(port, chosen, options) : RunRead(port, options);
  CloseCommPort(port);
  if (end.result) {
    std::fputs(end.result->c_str(), stdout);
  } else {
    std::fprintf(stderr, "kl395-cli: %s\n", end.failure.c_str());
  }
  // A write the detector took is done, stopped or not: the detector has changed.
  if (end.landed) return end.result ? kDone : kNoReply;
  if (StopRequested()) {
    std::fprintf(stderr, "kl395-cli: stopped\n");
    return kInterrupted;
  }
  return end.result ? kDone : kNoReply;
}

// What a search tells: each miss on standard error, and their causes at the end; with
// --all each find on standard output as it comes. On a terminal, a progress line takes the
// place of the misses that are mere silence.
class SearchProgress {
 public:
  // The options of the scan itself: at a gateway's rate, its one pass.
  SearchProgress(const CliOptions& options, const ResolvedPort& chosen)
      : options_(options),
        chosen_(chosen),
        line_(StandardErrorIsTerminal() && !options.trace, options.searchRates) {}

  void Probed(const ExchangeOutcome& outcome) {
    TraceExchangeOutcome(outcome, options_.echo);
    lastProbe_ = outcome;
  }

  bool Report(int message) {
    // Every report follows a probe but the one that tells the scan is over.
    if (!g_searchError.empty()) return true;
    const ExchangeOutcome& outcome = lastProbe_;
    const bool missed = message == WM_SEARCH_PROGRESS;
    if (missed) {
      misses_.Count(outcome.result);
      if (!line_.on() || outcome.result != ExchangeResult::kNoReply) {
        line_.MakeWay();
        std::fprintf(stderr, "%s\n",
                     ProbeMissLine(LineRateText(chosen_, g_searchBaud), g_searchAddress, outcome,
                                   options_.echo)
                         .c_str());
      }
    } else if (options_.searchAll) {
      ++found_;
      line_.MakeWay();
      std::printf("%s, address %d\n", LineRateText(chosen_, g_searchBaud).c_str(), g_foundAddress);
      std::fflush(stdout);
    }
    // After a stop the line stays as the stop left it.
    if (!StopRequested()) {
      line_.Probed(g_searchBaud, LineRateText(chosen_, g_searchBaud),
                   missed ? g_searchAddress : g_foundAddress, found_);
    }
    return true;
  }

  // Before the search's end is told.
  void EndLine() { line_.MakeWay(); }

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
  const ResolvedPort& chosen_;
  ExchangeOutcome lastProbe_;
  ResultTally misses_;
  int found_ = 0;
  SearchProgressLine line_;
};

// A line that cannot set its rate is probed at one rate, the gateway's: the one its URL
// names, or, with none named, any one, which is never told.
std::array<int, 5> OnePassAtTheGatewaysRate(const ResolvedPort& chosen) {
  std::array<int, 5> rates{};
  const int code = BaudCode(chosen.gatewayBaud);
  rates[static_cast<std::size_t>(code >= 0 ? code : BaudCode(9600))] = 1;
  return rates;
}

// The scan runs on this thread: its reports are plain calls, and the open errors it leaves
// are this thread's.
int RunSearch(const CliOptions& options, const ResolvedPort& chosen) {
  if (chosen.device.empty()) return PortTrouble(options, chosen.device);
  CliOptions probing = options;
  if (chosen.rateFixed) {
    probing.searchRates = OnePassAtTheGatewaysRate(chosen);
    std::fprintf(stderr,
                 "kl395-cli: the line runs at the gateway's rate: each address is probed once\n");
  }
  if (const std::string warning = ShortWaitWarning(probing); !warning.empty()) {
    std::fprintf(stderr, "kl395-cli: %s\n", warning.c_str());
  }
  g_searchRateEnabled = probing.searchRates;
  g_searchError.clear();
  g_searchActive = 1;
  CatchStopSignals();
  // The port trouble is told below in the command line's own words, not the window's.
  SearchProgress progress(probing, chosen);
  const SearchWindow reports{[&](int message) { return progress.Report(message); },
                             [](std::string_view) {},
                             [&](const ExchangeOutcome& outcome) { progress.Probed(outcome); }};
  const SearchEnd end = SearchWorker(
      reports, [&](int, int baudRate) { return OpenProbedDevice(chosen, options, baudRate); },
      SearchScope{.scanOn = options.searchAll,
                  .probeWaitMs = options.probeWaitMs.value_or(kProbeWaitMs),
                  .lineTimedWait = options.lineTimedWait});
  progress.EndLine();
  switch (end) {
    case SearchEnd::kFound:
      std::printf("baud: %s\naddress: %d\n",
                  chosen.rateFixed ? "the gateway's rate" : std::to_string(g_searchBaud).c_str(),
                  g_foundAddress);
      return kDone;
    case SearchEnd::kExhausted:
      progress.PrintEnd();
      if (progress.found() > 0) return kDone;
      std::fprintf(stderr, "kl395-cli: no detector answered at any address\n");
      return kNoReply;
    case SearchEnd::kStopped:
      progress.PrintEnd();
      std::fprintf(stderr, "kl395-cli: search stopped\n");
      // What was found is found: the listed detectors answered, stopped or not.
      return progress.found() > 0 ? kDone : kInterrupted;
    case SearchEnd::kPortTrouble:
      return PortTrouble(options, chosen.device);
  }
  return kNoReply;
}

int Poll(const CliOptions& options, const ResolvedPort& chosen) {
  const std::optional<int> status = RunPoll(options, chosen);
  return status ? *status : PortTrouble(options, chosen.device);
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
  const ResolvedPort chosen = ChosenPort(options);
  if (options.trace) StartFrameTrace();
  switch (options.command) {
    case CliCommand::kSearch:
      return RunSearch(options, chosen);
    case CliCommand::kPoll:
      return Poll(options, chosen);
    default:
      return RunCommand(options, chosen);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A result written nowhere would pass for done; the shell's own commands fail so too.
  if (ReserveStandardStreams()) {
    std::fputs("kl395-cli: cannot write the result: standard output is closed\n", stderr);
    return kOutputLost;
  }
  return FinishOutput(Run(ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc))));
}
