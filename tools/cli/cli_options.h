// Command-line parsing for kl395-cli, kept apart from I/O so it can be tested on its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/detector.h"
#include "tools/cli/mqtt_target.h"

// The tool's exit statuses, as CliUsage() lists them. 130: the shells' status for a program
// ended by Ctrl-C, kept for every stop signal.
enum ExitCode {
  kDone = 0,
  kNoReply = 1,
  kBadArguments = 2,
  kPortTrouble = 3,
  kOutputLost = 4,
  kInterrupted = 130,
};

enum class CliCommand {
  kReadStatus,
  kReadVersion,
  kReadSensitivity,
  kReadVoltage,
  kSetSensitivity,
  kSetAddress,
  kSetBaud,
  kSearch,
  kPoll,
};

// How poll writes its lines: plain text for people, CSV with a header line, or one JSON
// object a line.
enum class PollFormat { kText, kCsv, kJsonLines };

struct CliOptions {
  int portNumber = 1;      // COM1, as the window starts
  std::string devicePath;  // --device, used instead of the COM number when set
  int baudRate = 9600;
  int address = 1;
  std::vector<int> addresses = {1};  // poll's --address list, the first being `address`
  CliCommand command = CliCommand::kReadStatus;
  int value = 0;       // the new setting of a set-* command
  bool trace = false;  // --trace: every frame and each exchange's outcome on standard error
  bool echo = false;   // --echo: the adapter returns what it sends; expect it before replies
  // The rates a search tries, 1200 first: 1 takes part. All five unless some are named.
  std::array<int, 5> searchRates = {1, 1, 1, 1, 1};
  bool searchAll = false;  // --all: scan on after a find, list every responder
  // --wait: each probe's wait for its reply, which a silent probe does not outlast; unset,
  // the window's wait and its read after it.
  std::optional<unsigned> probeWaitMs;
  bool lineTimedWait = false;             // --wait auto: each rate's wait from its line time
  int periodMs = 500;                     // --period: poll's period, the window's default
  std::uint64_t pollCount = 0;            // --count: the polls to make; 0 until stopped
  bool voltage = false;                   // --voltage: read the voltage after each good poll
  PollFormat format = PollFormat::kText;  // --format
  std::string onChange;                   // --on-change: the command run on each event
  std::optional<MqttTarget> mqtt;         // --mqtt: the broker the readings go to
  std::string mqttCaFile;                 // --mqtt-cafile: the CA of an mqtts:// broker
  std::string discoveryPrefix = "homeassistant";  // --discovery-prefix, Home Assistant's
};

struct CliParse {
  std::optional<CliOptions> options;  // empty when the arguments are wrong or help was asked
  std::string message;                // what to tell the user then
  bool helpRequested = false;         // or --version: the message is all the answer
};

// Each option at most once, and --port or --device, not both; the options of poll and of
// search only with their command.
CliParse ParseCliArguments(const std::vector<std::string>& arguments);

// Whether --wait chose a search's waits, in milliseconds or from the line.
bool ProbeWaitChosen(const CliOptions& options);

std::string CliUsage();
std::string CliVersion();  // for --version, as the help text goes
