#include "tools/cli/poll_log.h"

#include <algorithm>
#include <vector>

#include "tools/cli/local_time.h"
#include "ui/number_text.h"

namespace {

// How a field is written in JSON.
enum class JsonKind {
  kLiteral,  // a number, true or false, as it is
  kString,
  kList,  // an array of strings: the value's words, which CSV shows apart by blanks
};

// One column of a CSV line and one member of a JSON object, which carry the same fields.
struct Field {
  const char* name;
  JsonKind kind;
  std::optional<std::string> value;  // empty in CSV and null in JSON when absent
};

std::optional<std::string> Flag(const std::optional<bool>& value) {
  if (!value) return std::nullopt;
  return *value ? "true" : "false";
}

std::optional<std::string> Volts(const std::optional<float>& volts) {
  if (!volts) return std::nullopt;
  return FormatOneDecimal("%.1f", static_cast<double>(*volts));
}

std::string Join(const std::vector<std::string_view>& words, std::string_view separator) {
  std::string text;
  for (const std::string_view word : words) {
    text.append(text.empty() ? "" : separator).append(word);
  }
  return text;
}

// `changed` is what differs from the last good poll; none for a failed poll.
std::vector<Field> Fields(const PollReading& reading, bool echo,
                          const std::optional<std::vector<std::string_view>>& changed) {
  const auto& status = reading.status;
  const bool good = status.has_value();
  const bool voltageFailed = reading.voltageAsked && !reading.voltage;
  const auto& replyTime = reading.outcome.replyTime;
  using enum JsonKind;
  return {
      {"time", kString, LocalIsoTime(reading.at)},
      {"address", kLiteral, std::to_string(reading.address)},
      {"good", kLiteral, Flag(good)},
      {"leak", kLiteral, Flag(good ? std::optional(status->leak) : std::nullopt)},
      {"alarm", kLiteral, good ? std::optional(std::to_string(status->alarmType)) : std::nullopt},
      {"voltage", kLiteral, Volts(reading.voltage)},
      {"response_ms", kLiteral,
       replyTime ? std::optional(std::to_string(replyTime->count())) : std::nullopt},
      {"cause", kString, good ? std::nullopt : std::optional(BriefCause(reading.outcome.result))},
      {"detail", kString,
       good ? std::nullopt : std::optional(ExchangeSummary(reading.outcome, echo))},
      {"voltage_cause", kString,
       voltageFailed ? std::optional(BriefCause(reading.voltageOutcome.result)) : std::nullopt},
      {"changed", kList, changed ? std::optional(Join(*changed, " ")) : std::nullopt},
  };
}

std::string JsonList(std::string_view words) {
  std::string list = "[";
  for (std::size_t at = 0; at < words.size();) {
    const std::size_t end = std::min(words.find(' ', at), words.size());
    if (list.size() > 1) list += ',';
    list += JsonString(words.substr(at, end - at));
    at = end + 1;
  }
  return list + "]";
}

std::string CsvLine(const std::vector<Field>& fields) {
  std::string line;
  for (const Field& field : fields) {
    if (!line.empty()) line += ',';
    if (field.value) line += CsvField(*field.value);
  }
  return line + "\n";
}

std::string JsonLine(const std::vector<Field>& fields) {
  std::string line = "{";
  for (const Field& field : fields) {
    if (line.size() > 1) line += ',';
    line.append(JsonString(field.name)).append(":");
    if (!field.value) {
      line += "null";
    } else if (field.kind == JsonKind::kList) {
      line += JsonList(*field.value);
    } else {
      line += field.kind == JsonKind::kString ? JsonString(*field.value) : *field.value;
    }
  }
  return line + "}\n";
}

std::string Milliseconds(const std::optional<std::chrono::milliseconds>& time) {
  return time ? " (" + std::to_string(time->count()) + " ms)" : "";
}

}  // namespace

std::string PollLog::Header() const {
  if (format_ != PollFormat::kCsv) return {};
  std::string header;
  for (const Field& field : Fields(PollReading{}, echo_, std::nullopt)) {
    if (!header.empty()) header += ',';
    header += field.name;
  }
  return header + "\n";
}

std::string PollLog::Line(const PollReading& reading) {
  Tally& detector = byAddress_[reading.address];
  std::optional<std::vector<std::string_view>> changed;
  if (reading.status) changed = detector.Changes(*reading.status);
  std::string line;
  switch (format_) {
    case PollFormat::kText:
      line = TextLine(reading, changed.value_or(std::vector<std::string_view>{}));
      break;
    case PollFormat::kCsv:
      line = CsvLine(Fields(reading, echo_, changed));
      break;
    case PollFormat::kJsonLines:
      line = JsonLine(Fields(reading, echo_, changed));
      break;
  }
  detector.Count(reading);
  all_.Count(reading);
  return line;
}

// "2025-06-01T22:00:00.512+08:00 address 1 good (7 ms): leak no, alarm 0 (none)", or
// "... failed: no reply within 1000 ms".
std::string PollLog::TextLine(const PollReading& reading,
                              const std::vector<std::string_view>& changed) const {
  std::string line = LocalIsoTime(reading.at) + " address " + std::to_string(reading.address);
  const auto& status = reading.status;
  if (!status) {
    return line.append(" failed")
        .append(Milliseconds(reading.outcome.replyTime))
        .append(": ")
        .append(ExchangeSummary(reading.outcome, echo_))
        .append("\n");
  }
  line.append(" good")
      .append(Milliseconds(reading.outcome.replyTime))
      .append(": leak ")
      .append(status->leak ? "yes" : "no")
      .append(
          FormatText(", alarm %u (%s)", unsigned{status->alarmType}, AlarmName(status->alarmType)));
  if (reading.voltage) {
    line.append(", voltage ").append(*Volts(reading.voltage)).append(" V");
  } else if (reading.voltageAsked) {
    line.append(", voltage failed: ").append(ExchangeSummary(reading.voltageOutcome, echo_));
  }
  if (!changed.empty()) line.append("  [changed: ").append(Join(changed, ", ")).append("]");
  return line.append("\n");
}

// Against the last good poll; the first has nothing to differ from.
std::vector<std::string_view> PollLog::Tally::Changes(const DetectorStatus& status) const {
  std::vector<std::string_view> changed;
  if (!lastGood) return changed;
  if (status.leak != lastGood->leak) changed.push_back("leak");
  if (status.alarmType != lastGood->alarmType) changed.push_back("alarm");
  return changed;
}

void PollLog::Tally::Count(const PollReading& reading) {
  if (!reading.status) {
    failed.Count(reading.outcome.result);
    return;
  }
  lastGood = reading.status;
  const long long ms = reading.outcome.replyTime.value_or(std::chrono::milliseconds(0)).count();
  fastestMs = good == 0 ? ms : std::min(fastestMs, ms);
  slowestMs = std::max(slowestMs, ms);
  totalMs += ms;
  ++good;
  if (!reading.voltageAsked) return;
  if (reading.voltage) {
    ++voltagesGood;
  } else {
    voltages.Count(reading.voltageOutcome.result);
  }
}

std::string PollLog::Tally::Text(const std::string& prefix) const {
  const std::uint64_t failedPolls = failed.Total();
  std::string text = prefix;
  text.append(std::to_string(good + failedPolls))
      .append(good + failedPolls == 1 ? " poll, " : " polls, ")
      .append(std::to_string(good))
      .append(" good, ")
      .append(std::to_string(failedPolls))
      .append(" failed")
      .append(failedPolls ? ": " + failed.Causes() : "")
      .append("\n");
  if (good > 0) {
    const double mean = static_cast<double>(totalMs) / static_cast<double>(good);
    text.append(prefix).append(
        FormatOneDecimal("response time min/avg/max = " + std::to_string(fastestMs) + "/%.1f/" +
                             std::to_string(slowestMs) + " ms\n",
                         mean));
  }
  const std::uint64_t voltagesFailed = voltages.Total();
  if (voltagesGood + voltagesFailed > 0) {
    text.append(prefix)
        .append("voltage readings: ")
        .append(std::to_string(voltagesGood))
        .append(" good, ")
        .append(std::to_string(voltagesFailed))
        .append(" failed")
        .append(voltagesFailed ? ": " + voltages.Causes() : "")
        .append("\n");
  }
  return text;
}

std::string PollLog::Summary(const std::string& what) const {
  std::string summary = "--- poll of " + what + " ---\n";
  if (!several_) return summary + all_.Text("");
  for (const auto& [address, tally] : byAddress_) {
    summary += tally.Text("address " + std::to_string(address) + ": ");
  }
  return summary + all_.Text("in all: ");
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json.append(1, '\\').append(1, c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (byte < 0x20) {
      json += FormatText("\\u%04x", unsigned{byte});
    } else {
      json += c;
    }
  }
  return json + "\"";
}
