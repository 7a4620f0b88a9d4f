#include "tools/cli/cli_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "device/detector.h"

namespace {

struct CommandName {
  const char* name;
  CliCommand command;
  bool takesValue;
};

constexpr std::array<CommandName, 7> kCommands = {{
    {"read-status", CliCommand::kReadStatus, false},
    {"read-version", CliCommand::kReadVersion, false},
    {"read-sensitivity", CliCommand::kReadSensitivity, false},
    {"read-voltage", CliCommand::kReadVoltage, false},
    {"set-sensitivity", CliCommand::kSetSensitivity, true},
    {"set-address", CliCommand::kSetAddress, true},
    {"set-baud", CliCommand::kSetBaud, true},
}};

// A whole decimal number and nothing else: unlike the window, the command line refuses
// "12ab" instead of reading 12, since a script's typo should not reach the detector.
std::optional<int> ParseWhole(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

bool IsBaudRate(int rate) {
  return std::find(kBaudRates.begin(), kBaudRates.end(), rate) != kBaudRates.end();
}

CliParse Refuse(std::string message) {
  return CliParse{std::nullopt, std::move(message), false};
}

// Checks an option's or command's number against its range; returns the complaint or "".
std::string CheckRange(const std::string& what, const std::string& text, std::optional<int> value,
                       int low, int high) {
  if (!value || *value < low || *value > high) {
    return what + " must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not '" + text + "'";
  }
  return {};
}

std::string CheckBaud(const std::string& what, const std::string& text, std::optional<int> value) {
  if (!value || !IsBaudRate(*value)) {
    return what + " must be one of 1200, 2400, 4800, 9600, 19200, not '" + text + "'";
  }
  return {};
}

// The checked value of a set-* command.
std::string CheckCommandValue(CliCommand command, const std::string& text, int* value) {
  const std::optional<int> number = ParseWhole(text);
  std::string complaint;
  switch (command) {
    case CliCommand::kSetSensitivity:
      complaint = CheckRange("the sensitivity", text, number, 1, 3);
      break;
    case CliCommand::kSetAddress:
      complaint = CheckRange("the new address", text, number, 0, 255);
      break;
    case CliCommand::kSetBaud:
      complaint = CheckBaud("the new baud rate", text, number);
      break;
    default:
      break;
  }
  if (complaint.empty()) *value = *number;
  return complaint;
}

}  // namespace

CliParse ParseCliArguments(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help") return CliParse{std::nullopt, CliUsage(), true};
    const bool isOption = argument == "--port" || argument == "--device" || argument == "--baud" ||
                          argument == "--address";
    if (!isOption) {
      if (argument.starts_with("--")) return Refuse("unknown option '" + argument + "'");
      words.push_back(argument);
      continue;
    }
    if (i + 1 == arguments.size()) return Refuse(argument + " needs a value");
    const std::string& text = arguments[++i];
    const std::optional<int> number = ParseWhole(text);
    std::string complaint;
    if (argument == "--device") {
      options.devicePath = text;
    } else if (argument == "--port") {
      complaint = CheckRange("--port", text, number, 1, 255);
      if (complaint.empty()) options.portNumber = *number;
    } else if (argument == "--baud") {
      complaint = CheckBaud("--baud", text, number);
      if (complaint.empty()) options.baudRate = *number;
    } else {
      complaint = CheckRange("--address", text, number, 0, 255);
      if (complaint.empty()) options.address = *number;
    }
    if (!complaint.empty()) return Refuse(complaint);
  }
  if (words.empty()) return Refuse("no command given");
  auto known = std::find_if(kCommands.begin(), kCommands.end(),
                            [&](const CommandName& c) { return words[0] == c.name; });
  if (known == kCommands.end()) return Refuse("unknown command '" + words[0] + "'");
  options.command = known->command;
  const std::size_t wanted = known->takesValue ? 2 : 1;
  if (words.size() != wanted) {
    return Refuse(words[0] + (known->takesValue ? " takes one value" : " takes no value"));
  }
  if (known->takesValue) {
    if (auto complaint = CheckCommandValue(known->command, words[1], &options.value);
        !complaint.empty()) {
      return Refuse(complaint);
    }
  }
  return CliParse{options, {}, false};
}

std::string CliUsage() {
  return "usage: kl395-cli [--port N | --device PATH] [--baud RATE] [--address A] COMMAND "
         "[VALUE]\n"
         "\n"
         "Talks to one water-leak detector over Modbus RTU (8N1).\n"
         "\n"
         "options:\n"
         "  --port N        COM port number (default 1); on Linux COM N is the link\n"
         "                  ~/.config/kl395/ports/comN, else the N-th serial device\n"
         "  --device PATH   serial device to use instead of a COM number\n"
         "  --baud RATE     1200, 2400, 4800, 9600 (default) or 19200\n"
         "  --address A     the detector's slave address, 0 to 255 (default 1)\n"
         "\n"
         "commands:\n"
         "  read-status          leak state and alarm type\n"
         "  read-version         firmware version\n"
         "  read-sensitivity     1 high, 2 medium, 3 low\n"
         "  read-voltage         supply voltage\n"
         "  set-sensitivity V    V is 1 (high), 2 (medium) or 3 (low)\n"
         "  set-address A        give the detector the new address A (0 to 255)\n"
         "  set-baud RATE        switch the detector to a new baud rate\n"
         "\n"
         "exit status: 0 done, 1 no valid reply from the detector, 2 bad arguments,\n"
         "3 serial port missing or busy\n";
}
