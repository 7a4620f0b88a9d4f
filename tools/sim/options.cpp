#include "tools/sim/options.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "device/detector.h"
#include "tools/sim/console.h"

namespace {

constexpr unsigned kMaxComNumber = 255;
constexpr unsigned kMaxTurnaroundMs = 5000;

std::string BadValue(std::string_view name, std::string_view value, const std::string& takes) {
  return "bad value '" + std::string(value) + "' for " + std::string(name) + " (" + takes + ")";
}

// Each sets its option from the value; an error text, empty when the value was good.
using Setter = std::string (*)(SimOptions& options, std::string_view name, std::string_view value);

template <std::uint16_t DetectorStart::*Field, unsigned Min, unsigned Max>
std::string SetStartRegister(SimOptions& options, std::string_view name, std::string_view value) {
  const auto number = ParseNumber(value, Max);
  if (!number || *number < Min) {
    return BadValue(name, value, std::to_string(Min) + " to " + std::to_string(Max));
  }
  options.start.*Field = static_cast<std::uint16_t>(*number);
  return {};
}

std::optional<std::uint16_t> BaudCode(std::string_view text) {
  const auto rate = ParseNumber(text, 1'000'000);
  if (!rate) return std::nullopt;
  const auto it = std::find(kBaudRates.begin(), kBaudRates.end(), static_cast<int>(*rate));
  if (it == kBaudRates.end()) return std::nullopt;
  return static_cast<std::uint16_t>(it - kBaudRates.begin());
}

std::string SetBaud(SimOptions& options, std::string_view name, std::string_view value) {
  const auto code = BaudCode(value);
  if (!code) return BadValue(name, value, "1200, 2400, 4800, 9600 or 19200");
  options.start.baudCode = *code;
  return {};
}

std::string SetFault(SimOptions& options, std::string_view name, std::string_view value) {
  const auto fault = ParseFault(value);
  if (!fault) return BadValue(name, value, FaultNames());
  options.fault = *fault;
  return {};
}

// ADDRESS or ADDRESS:VERSION.
std::string AddDetector(SimOptions& options, std::string_view name, std::string_view value) {
  const std::size_t colon = value.find(':');
  DetectorStart start;
  const auto address = ParseNumber(value.substr(0, colon), 255);
  const auto version = colon == std::string_view::npos
                           ? std::optional<unsigned>(start.version)
                           : ParseNumber(value.substr(colon + 1), 0xFFFF);
  if (!address || !version) {
    return BadValue(name, value,
                    "ADDRESS or ADDRESS:VERSION, address 0 to 255, version 0 to 65535");
  }
  start.address = static_cast<std::uint16_t>(*address);
  start.version = static_cast<std::uint16_t>(*version);
  options.others.push_back(start);
  return {};
}

std::string SetCom(SimOptions& options, std::string_view name, std::string_view value) {
  const auto number = ParseNumber(value, kMaxComNumber);
  if (!number || *number == 0) {
    return BadValue(name, value, "1 to " + std::to_string(kMaxComNumber));
  }
  options.comNumber = static_cast<int>(*number);
  return {};
}

std::string SetTurnaround(SimOptions& options, std::string_view name, std::string_view value) {
  const auto ms = ParseNumber(value, kMaxTurnaroundMs);
  if (!ms) return BadValue(name, value, "0 to " + std::to_string(kMaxTurnaroundMs) + " ms");
  options.pace.turnaround = std::chrono::milliseconds(*ms);
  return {};
}

std::string SetPortsDir(SimOptions& options, std::string_view name, std::string_view value) {
  if (value.empty()) return BadValue(name, value, "a folder");
  options.portsDir = value;
  return {};
}

struct ValueOption {
  std::string_view name;
  Setter set;
};

constexpr std::array<ValueOption, 12> kValueOptions = {{
    {"--address", SetStartRegister<&DetectorStart::address, 0, 255>},
    {"--version", SetStartRegister<&DetectorStart::version, 0, 0xFFFF>},
    // What the detector takes in a write; the console's set 2 plays any other value.
    {"--sensitivity", SetStartRegister<&DetectorStart::sensitivity, 1, 3>},
    {"--voltage", SetStartRegister<&DetectorStart::voltage, 0, 0xFFFF>},
    {"--leak", SetStartRegister<&DetectorStart::leak, 0, 0xFFFF>},
    {"--alarm", SetStartRegister<&DetectorStart::alarm, 0, 0xFFFF>},
    {"--baud", SetBaud},
    {"--fault", SetFault},
    {"--also", AddDetector},
    {"--com", SetCom},
    {"--ports-dir", SetPortsDir},
    {"--turnaround", SetTurnaround},
}};

const ValueOption* FindValueOption(std::string_view name) {
  const auto it = std::find_if(kValueOptions.begin(), kValueOptions.end(),
                               [name](const ValueOption& option) { return option.name == name; });
  return it == kValueOptions.end() ? nullptr : &*it;
}

}  // namespace

std::optional<unsigned> ParseNumber(std::string_view text, unsigned max) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value > max) return std::nullopt;
  return value;
}

ParsedArgs ParseArgs(std::span<const std::string_view> args) {
  ParsedArgs parsed;
  for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
    std::string_view name = args[i];
    if (name == "--help" || name == "-h") {
      parsed.help = true;
      continue;
    }
    if (name == "--verbose" || name == "-v") {
      parsed.options.verbose = true;
      continue;
    }
    if (name == "--instant") {
      parsed.options.pace.instant = true;
      continue;
    }
    std::optional<std::string_view> value;
    if (const auto equals = name.find('='); equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    // Known first, so that a misspelt option at the end is not said to lack a value.
    const ValueOption* option = FindValueOption(name);
    if (option == nullptr) {
      parsed.error = "unknown option " + std::string(name);
      break;
    }
    if (!value && i + 1 < args.size()) value = args[++i];
    if (!value) {
      parsed.error = "option " + std::string(name) + " needs a value";
      break;
    }
    parsed.error = option->set(parsed.options, name, *value);
  }
  return parsed;
}

DetectorBus MakeBus(const SimOptions& options) {
  DetectorModel first(options.start);
  first.SetFault(options.fault);
  std::vector<DetectorModel> others;
  for (DetectorStart start : options.others) {
    start.baudCode = options.start.baudCode;
    others.emplace_back(start);
  }
  return DetectorBus(first, others);
}

std::string Usage() {
  std::string text =
      "Usage: kl395-sim [OPTION]...\n"
      "\n"
      "Plays one water-leak detector (a Modbus RTU slave) on a pseudo-terminal, or several\n"
      "on one line with --also. The first line on standard output is the terminal's path;\n"
      "open it like a serial port.\n"
      "\n"
      "A detector answers only requests to its own address, and only while the other side\n"
      "has set the line to its own baud rate. Registers 0-4, 8 and 9 can be read, and 2\n"
      "(sensitivity), 8 (address) and 9 (baud code) written; a write of the address or the\n"
      "baud code takes effect after the reply. Anything else gets the exception a Modbus\n"
      "slave would answer with.\n"
      "\n"
      "The line keeps a real line's time: the detector hears a request only once its bytes\n"
      "have had their time on the line (ten bit times a byte, 8.3 ms at 1200 baud), starts\n"
      "its reply a turnaround after the request's end, and sends the reply a byte at a time,\n"
      "each ten bit times after the one before. Faults and the detectors of --also keep that\n"
      "time; a fault's delay counts from the request's end, after the turnaround.\n"
      "\n"
      "Options:\n"
      "  --address N       slave address, 0-255 (default 1)\n"
      "  --baud RATE       1200, 2400, 4800, 9600 or 19200 (default 9600)\n"
      "  --version N       register 3, in tenths (default 10: version 1.0)\n"
      "  --sensitivity N   register 2: 1 high, 2 medium, 3 low (default 2); for another\n"
      "                    value, use the console's set 2 N\n"
      "  --voltage N       register 4, in tenths of a volt (default 120)\n"
      "  --leak N          register 0 (default 0)\n"
      "  --alarm N         register 1 (default 0)\n"
      "  --fault NAME      start with a fault (default none)\n"
      "  --also A[:V]      one more detector on the line, at address A with version V\n"
      "                    (register 3, in tenths; default 10), the first detector's baud\n"
      "                    rate and otherwise the default registers; may be repeated\n"
      "  --com N           also name the terminal COM N: make the link comN in the ports\n"
      "                    folder, removed again on exit. Refuses to start when comN is\n"
      "                    there already, even as a link to an unplugged adapter\n"
      "  --ports-dir DIR   the ports folder (default $XDG_CONFIG_HOME/kl395/ports, or\n"
      "                    ~/.config/kl395/ports)\n"
      "  --turnaround MS   the detector's turnaround, 0 to 5000 ms (default 10)\n"
      "  --instant         reply at once, whatever the rate: no line time and no\n"
      "                    turnaround, as a bare pseudo-terminal (for tests that do not\n"
      "                    time the line)\n"
      "  --verbose, -v     log every request and reply on standard error\n"
      "  --help, -h        show this text\n"
      "\n"
      "Faults:\n"
      "  none           answer normally\n"
      "  silent         never answer\n"
      "  late           answer after 1.2 s, past a 1 s wait\n"
      "  bad-crc        answer with a wrong CRC\n"
      "  stray          send an extra byte with the reply\n"
      "  stray-late     send an extra byte 50 ms after the reply\n"
      "  exception      refuse every request with exception 04\n"
      "  bytewise       send the reply one byte at a time, 20 ms apart\n"
      "  wrong-address  answer from address 119 (0x77) instead of its own; a detector\n"
      "                 at 119 answers from 118 (119 XOR 1)\n"
      "  wrong-value    confirm a write of V with V+1 (a good CRC) and not carry it out\n"
      "  wrong-count    give a read reply the byte count of four times its data (8 for\n"
      "                 one register, 16 for two), with the data and a CRC as sent\n"
      "  answer-all     answer every request, whatever its address and the line's baud\n"
      "                 rate, always from its own address: one device answering for all\n"
      "  echo           play a two-wire adapter without echo suppression: send every\n"
      "                 frame heard straight back, whatever its address or baud rate,\n"
      "                 then answer as under none\n"
      "\n"
      "Under late, bad-crc, stray, stray-late, bytewise, wrong-address, wrong-count and\n"
      "answer-all a write is still carried out; under silent, exception and wrong-value\n"
      "it is not.\n"
      "\n"
      "With --also, several detectors share the line. Every detector hears every request\n"
      "and answers its own as above; a write of the address or the baud code changes each\n"
      "detector that accepted it. The faults and the commands below apply to the first\n"
      "detector only, but for burst, which is the line's and follows whichever reply comes\n"
      "next; under echo a frame is echoed once. Detectors at one address answer together,\n"
      "and their replies collide as on a two-wire line: it is low while any of them sends a\n"
      "low bit, each later reply starts a few bit times after the one before, and what the\n"
      "master's receiver makes of that goes out. The master almost always reads a frame of\n"
      "the wrong length or with a wrong CRC.\n"
      "\n";
  text += CommandHelp();
  text +=
      "\n"
      "Each command is answered by one line, 'ok ...' or 'error: ...'; empty lines are\n"
      "ignored. The simulator ends on quit, SIGTERM, SIGINT or SIGHUP, and at the end of\n"
      "standard input when that is a pipe, a socket or a terminal. Standard input that is\n"
      "/dev/null (as a shell gives a background job), a file, or a terminal it may not read\n"
      "only brings commands; the simulator then runs until it is told to end.\n";
  return text;
}
