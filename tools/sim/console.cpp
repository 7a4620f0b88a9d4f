#include "tools/sim/console.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "device/detector.h"
#include "tools/sim/options.h"
#include "tools/text/printable_text.h"

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = line.find_first_not_of(kBlanks);
  while (at != std::string_view::npos) {
    const std::size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
    words.push_back(line.substr(at, end - at));
    at = line.find_first_not_of(kBlanks, end);
  }
  return words;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) + 1 - first);
}

CommandOutcome Error(const std::string& why) {
  return {"error: " + why, false};
}

CommandOutcome SetRegister(DetectorModel& model, std::uint8_t number, std::string_view valueText,
                           const std::string& echo) {
  const unsigned max = MaxStorableValue(number);
  const auto value = ParseNumber(valueText, max);
  if (!value) {
    return Error("bad value " + Quoted(valueText) + " for register " + std::to_string(number) +
                 " (0 to " + std::to_string(max) + ")");
  }
  model.Apply({number, static_cast<std::uint16_t>(*value)});
  return {"ok " + echo + std::to_string(*value), false};
}

constexpr unsigned kMaxBurst = 64;

// burst N [BYTE].
CommandOutcome QueueBurst(DetectorBus& bus, std::string_view countText,
                          std::string_view valueText) {
  const auto count = ParseNumber(countText, kMaxBurst);
  if (!count || *count == 0) {
    return Error("bad count " + Quoted(countText) + " for burst (1 to " +
                 std::to_string(kMaxBurst) + ")");
  }
  const auto value = ParseNumber(valueText, 255);
  if (!value) return Error("bad byte " + Quoted(valueText) + " for burst (0 to 255)");
  bus.QueueBurst(*count, static_cast<std::uint8_t>(*value));
  return {"ok burst " + std::to_string(*count) + " " + std::to_string(*value), false};
}

// The commands that change one detector, echoed after `echo` ("at 7 " or nothing); none
// when `words` holds another.
std::optional<CommandOutcome> RunDetectorCommand(DetectorModel& model,
                                                 std::span<const std::string_view> words,
                                                 const std::string& echo) {
  const std::string_view verb = words[0];
  if (verb == "leak" && words.size() == 2) {
    return SetRegister(model, reg::kLeakState, words[1], echo + "leak ");
  }
  if (verb == "alarm" && words.size() == 2) {
    return SetRegister(model, reg::kAlarmType, words[1], echo + "alarm ");
  }
  if (verb == "fault" && words.size() == 2) {
    const auto fault = ParseFault(words[1]);
    if (!fault) return Error("unknown fault " + Quoted(words[1]) + "; faults: " + FaultNames());
    model.SetFault(*fault);
    return CommandOutcome{"ok " + echo + "fault " + std::string(FaultName(*fault)), false};
  }
  if (verb == "set" && words.size() == 3) {
    const auto number = ParseNumber(words[1], 0xFFFF);
    if (!number || !IsMappedRegister(*number)) {
      return Error("no register " + Quoted(words[1]) + "; registers: 0-4, 8, 9");
    }
    return SetRegister(model, static_cast<std::uint8_t>(*number), words[2],
                       echo + "set " + std::to_string(*number) + " ");
  }
  return std::nullopt;
}

// at A CMD: a detector's command for the one at that address.
CommandOutcome RunAtAddress(DetectorBus& bus, std::span<const std::string_view> words) {
  const auto address = ParseNumber(words[1], 255);
  if (!address) return Error("bad address " + Quoted(words[1]) + " for at (0 to 255)");
  DetectorModel* model = bus.At(*address);
  if (model == nullptr) return Error("no detector at address " + std::to_string(*address));
  const std::string echo = "at " + std::to_string(*address) + " ";
  if (auto outcome = RunDetectorCommand(*model, words.subspan(2), echo)) return *outcome;
  return Error("at takes leak N, alarm N, fault NAME or set REG N after the address");
}

}  // namespace

CommandOutcome RunCommand(DetectorBus& bus, std::uint64_t requestsHeard, std::string_view line) {
  const auto words = Words(line);
  if (words.empty()) return {};
  const std::string_view verb = words[0];
  if (verb == "quit" && words.size() == 1) return {"ok quit", true};
  if (verb == "requests" && words.size() == 1) {
    return {"ok requests " + std::to_string(requestsHeard), false};
  }
  if (verb == "burst" && (words.size() == 2 || words.size() == 3)) {
    return QueueBurst(bus, words[1], words.size() == 3 ? words[2] : "0");
  }
  if (verb == "at" && words.size() >= 3) return RunAtAddress(bus, words);
  if (auto outcome = RunDetectorCommand(bus.First(), words, "")) return *outcome;
  return Error("cannot read " + Quoted(Trimmed(line)) +
               "; commands: leak N, alarm N, fault NAME, set REG N, at A CMD, "
               "burst N [BYTE], requests, quit");
}

std::string_view CommandHelp() {
  return "Commands on standard input:\n"
         "  leak N          register 0 (bit 0: 1 leak, 0 normal)\n"
         "  alarm N         register 1 (0 none, 1 optical, 2 probe, 3 both)\n"
         "  fault NAME      switch to one of the faults listed above\n"
         "  set REG N       any register of the map (0-4, 8, 9) to N, 0-65535, also to a\n"
         "                  value the detector would refuse in a write (sensitivity 7, say)\n"
         "                  for the tools to meet; only the address (0-255) and the baud\n"
         "                  code (0-4) stay where the detector can still be reached\n"
         "  at A CMD        leak, alarm, fault or set for the detector at address A on a\n"
         "                  line of several (--also) instead of the first: at 7 leak 1\n"
         "  burst N [BYTE]  send N bytes (1-64) of BYTE (0-255, default 0) right after the\n"
         "                  next reply, once; a reply that does not come (silent, another\n"
         "                  address) leaves the burst waiting for the next\n"
         "  requests        'ok requests N': the frames heard on the line since the start,\n"
         "                  answered or not (any address, baud rate or content)\n"
         "  quit            end the simulator\n";
}
