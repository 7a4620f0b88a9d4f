// kl395-cli: the detector's operations from the command line, for scripts, headless
// monitoring and quick checks without the window.
#include <cstdio>
#include <string>
#include <vector>

#include "device/detector.h"
#include "tools/cli/cli_options.h"

namespace {

enum ExitCode { kDone = 0, kNoReply = 1, kBadArguments = 2, kPortTrouble = 3 };

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

int BaudCode(int rate) {
  for (std::size_t code = 0; code < kBaudRates.size(); ++code) {
    if (kBaudRates[code] == rate) return static_cast<int>(code);
  }
  return -1;  // not reached: the parser admits only the five rates
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
  }
  return kBadArguments;
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
  const CommHandle port = options.devicePath.empty()
                              ? OpenCommPort(options.portNumber, options.baudRate)
                              : OpenCommDevice(options.devicePath, options.baudRate);
  if (!port) {
    const std::string name = options.devicePath.empty() ? "COM" + std::to_string(options.portNumber)
                                                        : options.devicePath;
    const CommError& error = LastCommError();
    std::fprintf(stderr, "kl395-cli: serial port %s: %s%s%s\n", name.c_str(),
                 PortTroubleReason(error.kind), error.message.empty() ? "" : ": ",
                 error.message.c_str());
    return kPortTrouble;
  }
  const int result = RunCommand(port, options);
  CloseCommPort(port);
  return result;
}
