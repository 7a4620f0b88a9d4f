#include "tools/sim/console.h"

#include <algorithm>
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

}  // namespace

CommandOutcome RunCommand(DetectorBus& bus, std::uint64_t requestsHeard, std::string_view line) {
  DetectorModel& model = bus.First();
  const auto words = Words(line);
  if (words.empty()) return {};
  const std::string_view verb = words[0];
  if (verb == "quit" && words.size() == 1) return {"ok quit", true};
  if (verb == "requests" && words.size() == 1) {
    return {"ok requests " + std::to_string(requestsHeard), false};
  }
  if (verb == "leak" && words.size() == 2) {
    return SetRegister(model, reg::kLeakState, words[1], "leak ");
  }
  if (verb == "alarm" && words.size() == 2) {
    return SetRegister(model, reg::kAlarmType, words[1], "alarm ");
  }
  if (verb == "fault" && words.size() == 2) {
    const auto fault = ParseFault(words[1]);
    if (!fault) return Error("unknown fault " + Quoted(words[1]) + "; faults: " + FaultNames());
    model.SetFault(*fault);
    return {"ok fault " + std::string(FaultName(*fault)), false};
  }
  if (verb == "burst" && (words.size() == 2 || words.size() == 3)) {
    return QueueBurst(bus, words[1], words.size() == 3 ? words[2] : "0");
  }
  if (verb == "set" && words.size() == 3) {
    const auto number = ParseNumber(words[1], 0xFFFF);
    if (!number || !IsMappedRegister(*number)) {
      return Error("no register " + Quoted(words[1]) + "; registers: 0-4, 8, 9");
    }
    return SetRegister(model, static_cast<std::uint8_t>(*number), words[2],
                       "set " + std::to_string(*number) + " ");
  }
  return Error("cannot read " + Quoted(Trimmed(line)) +
               "; commands: leak N, alarm N, fault NAME, set REG N, burst N [BYTE], requests, "
               "quit");
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
         "  burst N [BYTE]  send N bytes (1-64) of BYTE (0-255, default 0) right after the\n"
         "                  next reply, once; a reply that does not come (silent, another\n"
         "                  address) leaves the burst waiting for the next\n"
         "  requests        'ok requests N': the frames heard on the line since the start,\n"
         "                  answered or not (any address, baud rate or content)\n"
         "  quit            end the simulator\n";
}
