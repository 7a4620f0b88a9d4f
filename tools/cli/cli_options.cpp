#include "tools/cli/cli_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>

#include "device/detector.h"
#include "serial/line_url.h"
#include "tools/cli/address_list.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/mqtt_publisher.h"

namespace {

enum class Takes { kNothing, kOneValue, kRates };

struct CommandName {
  const char* name;
  CliCommand command;
  Takes takes;
};

constexpr std::array<CommandName, 9> kCommands = {{
    {"read-status", CliCommand::kReadStatus, Takes::kNothing},
    {"read-version", CliCommand::kReadVersion, Takes::kNothing},
    {"read-sensitivity", CliCommand::kReadSensitivity, Takes::kNothing},
    {"read-voltage", CliCommand::kReadVoltage, Takes::kNothing},
    {"set-sensitivity", CliCommand::kSetSensitivity, Takes::kOneValue},
    {"set-address", CliCommand::kSetAddress, Takes::kOneValue},
    {"set-baud", CliCommand::kSetBaud, Takes::kOneValue},
    {"search", CliCommand::kSearch, Takes::kRates},
    {"poll", CliCommand::kPoll, Takes::kNothing},
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

CliParse Refuse(std::string message) {
  return CliParse{std::nullopt, std::move(message), false};
}

// Checks an option's or command's number against its range; returns the complaint or "".
std::string CheckRange(const std::string& what, const std::string& text, std::optional<int> value,
                       int low, int high) {
  if (!value || *value < low || *value > high) {
    return what + " must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not " + Quoted(text);
  }
  return {};
}

std::string CheckBaud(const std::string& what, const std::string& text, std::optional<int> value) {
  if (!value || BaudCode(*value) < 0) {
    return what + " must be one of 1200, 2400, 4800, 9600, 19200, not " + Quoted(text);
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

// The rates named after search, each at most once; naming none leaves all five.
std::string CheckSearchRates(const std::vector<std::string>& texts, std::array<int, 5>* rates) {
  if (texts.empty()) return {};
  std::array<int, 5> named{};
  for (const std::string& text : texts) {
    const std::optional<int> rate = ParseWhole(text);
    if (auto complaint = CheckBaud("a search rate", text, rate); !complaint.empty()) {
      return complaint;
    }
    int& taking = named[static_cast<std::size_t>(BaudCode(*rate))];
    if (taking) return "the search rate " + text + " is named twice";
    taking = 1;
  }
  *rates = named;
  return {};
}

// Checks what follows the command word against what the command takes.
std::string CheckCommandValues(const CommandName& command, const std::vector<std::string>& values,
                               CliOptions* options) {
  const std::string name = command.name;
  switch (command.takes) {
    case Takes::kNothing:
      return values.empty() ? "" : name + " takes no value";
    case Takes::kOneValue:
      if (values.size() != 1) return name + " takes one value";
      return CheckCommandValue(command.command, values[0], &options->value);
    case Takes::kRates:
      return CheckSearchRates(values, &options->searchRates);
  }
  return {};
}

// The options that take a number in a range, and where each one keeps it.
struct RangedOption {
  const char* name;
  int low;
  int high;
  void (*keep)(CliOptions& options, int value);
};
constexpr auto kRangedOptions = std::to_array<RangedOption>({
    {"--port", 1, 255, [](CliOptions& o, int value) { o.portNumber = value; }},
    // From the shortest period the window keeps to a day.
    {"--period", 10, 86'400'000, [](CliOptions& o, int value) { o.periodMs = value; }},
    {"--count", 1, std::numeric_limits<int>::max(),
     [](CliOptions& o, int value) { o.pollCount = static_cast<std::uint64_t>(value); }},
});

const RangedOption* FindRangedOption(const std::string& argument) {
  auto option = std::find_if(kRangedOptions.begin(), kRangedOptions.end(),
                             [&](const RangedOption& o) { return argument == o.name; });
  return option == kRangedOptions.end() ? nullptr : &*option;
}

bool IsMqttOption(const std::string& argument) {
  return argument == "--mqtt" || argument == "--mqtt-cafile" || argument == "--discovery-prefix";
}

bool TakesValue(const std::string& argument) {
  return argument == "--device" || argument == "--baud" || argument == "--format" ||
         argument == "--wait" || argument == "--address" || argument == "--on-change" ||
         IsMqttOption(argument) || FindRangedOption(argument) != nullptr;
}

// The options that take no value: where each one is kept.
struct Flag {
  const char* name;
  bool CliOptions::*member;
};
constexpr std::array<Flag, 4> kFlags = {{{"--trace", &CliOptions::trace},
                                         {"--echo", &CliOptions::echo},
                                         {"--voltage", &CliOptions::voltage},
                                         {"--all", &CliOptions::searchAll}}};

const Flag* FindFlag(const std::string& argument) {
  auto flag =
      std::find_if(kFlags.begin(), kFlags.end(), [&](const Flag& f) { return argument == f.name; });
  return flag == kFlags.end() ? nullptr : &*flag;
}

std::string TakeFormat(const std::string& text, CliOptions* options) {
  constexpr std::array<std::pair<const char*, PollFormat>, 3> kFormats = {{
      {"text", PollFormat::kText},
      {"csv", PollFormat::kCsv},
      {"jsonl", PollFormat::kJsonLines},
  }};
  for (const auto& [name, format] : kFormats) {
    if (text == name) {
      options->format = format;
      return {};
    }
  }
  return "--format must be text, csv or jsonl, not " + Quoted(text);
}

// --wait MS, or auto.
std::string TakeWait(const std::string& text, std::optional<int> number, CliOptions* options) {
  constexpr int kShortest = 10;
  constexpr int kLongest = 10'000;
  if (text == "auto") {
    options->lineTimedWait = true;
    return {};
  }
  if (CheckRange("--wait", text, number, kShortest, kLongest).empty()) {
    options->probeWaitMs = static_cast<unsigned>(*number);
    return {};
  }
  return "--wait must be auto or a whole number from " + std::to_string(kShortest) + " to " +
         std::to_string(kLongest) + ", not " + Quoted(text);
}

// A topic level or levels of the broker's, without wildcards or an empty level.
bool IsTopicPrefix(const std::string& text) {
  return !text.empty() && text.find_first_of(std::string("+#\0", 3)) == std::string::npos &&
         !text.starts_with('/') && !text.ends_with('/') && text.find("//") == std::string::npos;
}

std::string TakeMqttOption(const std::string& option, const std::string& text,
                           CliOptions* options) {
  if (option == "--mqtt") {
    MqttTarget target;
    std::string complaint = ParseMqttUrl(text, &target);
    if (complaint.empty()) options->mqtt = target;
    return complaint;
  }
  if (option == "--mqtt-cafile") {
    if (text.empty()) return "--mqtt-cafile needs the path of a file, not an empty one";
    options->mqttCaFile = text;
    return {};
  }
  if (!IsTopicPrefix(text)) {
    return "--discovery-prefix must be a topic without wildcards or empty levels, not " +
           Quoted(text);
  }
  options->discoveryPrefix = text;
  return {};
}

// Takes an option's value into the options; returns the complaint or "".
std::string TakeOption(const std::string& option, const std::string& text, CliOptions* options) {
  const std::optional<int> number = ParseWhole(text);
  if (option == "--device") {
    if (text.empty()) return "--device needs the path of a serial device, not an empty one";
    if (IsLineUrl(text)) {
      if (const LineUrlParse url = ParseLineUrl(text); !url.url) {
        return "--device " + Quoted(text) + ": " + url.problem;
      }
    }
    options->devicePath = text;
    return {};
  }
  if (option == "--format") return TakeFormat(text, options);
  if (option == "--wait") return TakeWait(text, number, options);
  if (option == "--on-change") {
    if (text.empty()) return "--on-change needs a command, not an empty one";
    options->onChange = text;
    return {};
  }
  if (IsMqttOption(option)) {
    return TakeMqttOption(option, text, options);
  }
  if (option == "--address") {
    std::string complaint = ParseAddressList(text, &options->addresses);
    if (complaint.empty()) options->address = options->addresses.front();
    return complaint;
  }
  if (option == "--baud") {
    std::string complaint = CheckBaud("--baud", text, number);
    if (complaint.empty()) options->baudRate = *number;
    return complaint;
  }
  const RangedOption& ranged = *FindRangedOption(option);
  std::string complaint = CheckRange(option, text, number, ranged.low, ranged.high);
  if (complaint.empty()) ranged.keep(*options, *number);
  return complaint;
}

bool IsGiven(const std::vector<std::string>& given, std::string_view option) {
  return std::find(given.begin(), given.end(), option) != given.end();
}

// A second value, or a port named both ways, is more likely a slip in a script than a wish,
// so the tool refuses to choose between them.
std::string CheckGivenOnce(const std::string& option, const std::vector<std::string>& given) {
  if (IsGiven(given, option)) return option + " is given twice";
  const bool namesPort = option == "--port" || option == "--device";
  if (namesPort && (IsGiven(given, "--port") || IsGiven(given, "--device"))) {
    return "--port and --device both name the port; give one of them";
  }
  return {};
}

// The MQTT options go together: none of them without --mqtt, a CA only for mqtts://, and
// none at all in a build without MQTT.
std::string CheckMqttOptions(const std::vector<std::string>& given, const CliOptions& options) {
  if (!MqttBuiltIn() && std::any_of(given.begin(), given.end(), IsMqttOption)) {
    return "this build has no MQTT (libmosquitto is not to be had for it): --mqtt, "
           "--mqtt-cafile and --discovery-prefix cannot be used";
  }
  if (!options.mqtt) {
    for (const char* option : {"--mqtt-cafile", "--discovery-prefix"}) {
      if (IsGiven(given, option)) return std::string(option) + " goes with --mqtt only";
    }
  } else if (!options.mqtt->tls && IsGiven(given, "--mqtt-cafile")) {
    return "--mqtt-cafile is for an mqtts:// broker";
  }
  return {};
}

// The options that belong to one command: elsewhere they would be silently ignored.
struct OwnedOption {
  const char* name;
  const char* commandName;
  CliCommand command;
};
constexpr std::array<OwnedOption, 10> kOwnedOptions = {{
    {"--period", "poll", CliCommand::kPoll},
    {"--on-change", "poll", CliCommand::kPoll},
    {"--mqtt", "poll", CliCommand::kPoll},
    {"--mqtt-cafile", "poll", CliCommand::kPoll},
    {"--discovery-prefix", "poll", CliCommand::kPoll},
    {"--count", "poll", CliCommand::kPoll},
    {"--voltage", "poll", CliCommand::kPoll},
    {"--format", "poll", CliCommand::kPoll},
    {"--all", "search", CliCommand::kSearch},
    {"--wait", "search", CliCommand::kSearch},
}};

std::string CheckOwnCommand(const std::vector<std::string>& given, CliCommand command) {
  for (const OwnedOption& option : kOwnedOptions) {
    if (option.command != command && IsGiven(given, option.name)) {
      return std::string(option.name) + " belongs to " + option.commandName + " only";
    }
  }
  return {};
}

// Said either way, so that the help of a build without it tells why --mqtt is refused.
std::string MqttUsage() {
  if (!MqttBuiltIn()) {
    return "MQTT: this build has none (libmosquitto is not to be had for it), so --mqtt,\n"
           "--mqtt-cafile and --discovery-prefix cannot be used.\n"
           "\n";
  }
  return "MQTT options of poll:\n"
         "  --mqtt URL      publish every detector's readings to the broker at\n"
         "                  mqtt://[USER@]HOST[:PORT] (port 1883) or mqtts://... (TLS,\n"
         "                  port 8883), with Home Assistant's MQTT discovery; the password,\n"
         "                  if the broker wants one, from KL395_MQTT_PASSWORD\n"
         "  --mqtt-cafile FILE  check an mqtts:// broker's certificate against this\n"
         "                      CA instead of the system's certificates\n"
         "  --discovery-prefix PREFIX  Home Assistant's discovery prefix (default\n"
         "                             homeassistant)\n"
         "\n";
}

}  // namespace

CliParse ParseCliArguments(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::vector<std::string> given;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help") return CliParse{std::nullopt, CliUsage(), true};
    if (argument == "--version") return CliParse{std::nullopt, CliVersion(), true};
    if (const Flag* flag = FindFlag(argument)) {
      if (auto complaint = CheckGivenOnce(argument, given); !complaint.empty()) {
        return Refuse(complaint);
      }
      given.push_back(argument);
      options.*flag->member = true;
      continue;
    }
    if (!TakesValue(argument)) {
      if (argument.starts_with("--")) return Refuse("unknown option " + Quoted(argument));
      words.push_back(argument);
      continue;
    }
    if (i + 1 == arguments.size()) return Refuse(argument + " needs a value");
    if (auto complaint = CheckGivenOnce(argument, given); !complaint.empty()) {
      return Refuse(complaint);
    }
    given.push_back(argument);
    if (auto complaint = TakeOption(argument, arguments[++i], &options); !complaint.empty()) {
      return Refuse(complaint);
    }
  }
  if (words.empty()) return Refuse("no command given");
  auto known = std::find_if(kCommands.begin(), kCommands.end(),
                            [&](const CommandName& c) { return words[0] == c.name; });
  if (known == kCommands.end()) return Refuse("unknown command " + Quoted(words[0]));
  options.command = known->command;
  if (auto complaint =
          CheckCommandValues(*known, std::vector(words.begin() + 1, words.end()), &options);
      !complaint.empty()) {
    return Refuse(complaint);
  }
  if (options.command == CliCommand::kSearch &&
      (IsGiven(given, "--baud") || IsGiven(given, "--address"))) {
    return Refuse(
        "search finds the baud rate and address itself, so --baud and --address do "
        "not apply; name the rates to try after search instead");
  }
  if (auto complaint = CheckOwnCommand(given, known->command); !complaint.empty()) {
    return Refuse(complaint);
  }
  if (auto complaint = CheckMqttOptions(given, options); !complaint.empty()) {
    return Refuse(complaint);
  }
  if (options.addresses.size() > 1 && options.command != CliCommand::kPoll) {
    return Refuse("only poll takes several addresses; " + std::string(known->name) + " takes one");
  }
  return CliParse{options, {}, false};
}

// Laid out as help2man reads it, for the man page made of it: usage lines it takes for the
// synopsis, paragraphs apart by blank lines, headings that end with a colon, and options and
// their texts in two columns.
std::string CliUsage() {
  return "Usage: kl395-cli [OPTION]... COMMAND [VALUE]\n"
         "  or:  kl395-cli [OPTION]... [POLL OPTION]... poll\n"
         "  or:  kl395-cli [OPTION]... [SEARCH OPTION]... search [RATE...]\n"
         "\n"
         "Talks to one water-leak detector over Modbus RTU (8N1).\n"
         "\n"
         "Ctrl-C (or SIGTERM, SIGHUP) stops the tool once the exchange or probe under way\n"
         "has ended; a second one ends it at once. Either way the port is left free.\n"
         "\n"
         "A failed exchange is named on standard error with what usually causes it. A\n"
         "reply counts only when it answers the request: from the address asked, with the\n"
         "function asked, and for a write the register and value written. The set\n"
         "commands confirm what they wrote by asking the detector again.\n"
         "\n"
         "Commands:\n"
         "  read-status          leak state and alarm type\n"
         "  read-version         firmware version\n"
         "  read-sensitivity     1 high, 2 medium, 3 low\n"
         "  read-voltage         supply voltage\n"
         "  set-sensitivity V    V is 1 (high), 2 (medium) or 3 (low)\n"
         "  set-address A        give the detector the new address A (0 to 255)\n"
         "  set-baud RATE        switch the detector to a new baud rate\n"
         "  poll                 read the leak state and alarm type every period on a port\n"
         "                       held open, one time-stamped line a poll on standard\n"
         "                       output, each detector of the --address list in turn;\n"
         "                       at the end a summary on standard error\n"
         "  search [RATE...]     find a detector whose settings are unknown: probe every\n"
         "                       address from 0 to 255 at each RATE (all five if none is\n"
         "                       named) until one answers, printing its baud rate and\n"
         "                       address; each probe takes about half a second, a full\n"
         "                       scan about twelve minutes (with --wait auto under two);\n"
         "                       on a terminal one line tells the probes made, the\n"
         "                       detectors found and the time left\n"
         "\n"
         "Options:\n"
         "  --port N        COM port number, 1 to 255 (default 1); on Linux COM N is the\n"
         "                  link ~/.config/kl395/ports/comN, else the N-th serial device\n"
         "  --device PATH   serial device to use instead of a COM number, or a gateway's\n"
         "                  URL: rfc2217://HOST:PORT (RFC 2217, which sets the rate),\n"
         "                  socket://HOST:PORT (raw RTU frames), tcp://HOST[:PORT]\n"
         "                  (Modbus TCP, port 502 by default); the last two run at the\n"
         "                  gateway's own rate, which ?baud=RATE at the end may name\n"
         "  --baud RATE     1200, 2400, 4800, 9600 (default) or 19200\n"
         "  --address A     the detector's slave address, 0 to 255 (default 1); poll takes\n"
         "                  a list of detectors on the line, such as 3,7,10-12\n"
         "  --trace         show every frame sent and received on standard error, with\n"
         "                  its time, and how each exchange ended\n"
         "  --echo          for a two-wire RS-485 adapter without echo suppression, which\n"
         "                  returns every request it sends: check and skip that echo\n"
         "  -h, --help      show this text\n"
         "  --version       show the program's version\n"
         "\n"
         "Each option at most once, and --port or --device, not both. A search finds the\n"
         "baud rate and address itself and takes neither --baud nor --address.\n"
         "\n"
         "Poll options:\n"
         "  --period MS     poll every MS milliseconds, 10 to 86400000 (default 500)\n"
         "  --count N       stop after N polls of each detector (default: poll until\n"
         "                  stopped)\n"
         "  --voltage       after each good poll, wait half a second and read the voltage\n"
         "  --format F      text (default), csv (with a header line) or jsonl (one JSON\n"
         "                  object a line)\n"
         "  --on-change CMD  run CMD through the shell when a detector starts or stops\n"
         "                   answering, its leak state or alarm type changes, or the\n"
         "                   line goes or comes back, with the facts in its environment\n"
         "                   (KL395_EVENT, KL395_ADDRESS, KL395_LEAK, KL395_ALARM, ...);\n"
         "                   polling never waits for it: one run at a time for each\n"
         "                   detector, later events queued in order\n"
         "\n" +
         MqttUsage() +
         "Search options:\n"
         "  --all           scan on after a find and list every detector that answers\n"
         "  --wait MS       wait MS milliseconds for each probe's reply, 10 to 10000, and\n"
         "                  end a probe to which nothing came there (default: 500, and the\n"
         "                  read after it that takes in a late reply, as the window does);\n"
         "                  a reply begun by then is read to its end\n"
         "  --wait auto     wait at each rate for the request's and the first reply byte's\n"
         "                  time on the line and 50 ms more, enough for a detector that\n"
         "                  answers within 50 ms (125 ms at 1200 baud, 55 ms at 19200)\n"
         "\n"
         "Exit status:\n"
         "  0    done\n"
         "  1    no valid reply from the detector, or a write not confirmed\n"
         "  2    bad arguments\n"
         "  3    serial port missing, busy or not permitted; gateway out of reach\n"
         "  4    the result could not be written to standard output\n"
         "  130  stopped by Ctrl-C, SIGTERM or SIGHUP\n"
         "\n"
         "A set command whose write the detector acknowledged ends with 0 or 1 however it\n"
         "was stopped; search --all ends with 0 once a detector has answered; poll ends\n"
         "with 0 when at least one poll was good and 1 when none was, however it was\n"
         "stopped. Standard output closed from the start is 4, and nothing is done.\n";
}

bool ProbeWaitChosen(const CliOptions& options) {
  return options.probeWaitMs || options.lineTimedWait;
}

std::string CliVersion() {
  return "kl395-cli " KL395_VERSION "\n";
}
