// kl395-cli poll: its arguments, its lines and summary on their own, and the real program
// against the simulated detector and pseudo-terminals: each format read back as a program
// would, the summary against what the simulator heard, state changes, the ways it ends,
// and a COM link whose line goes and comes back.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/cli/log_parsers.h"
#include "tests/support/memory_line.h"
#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tests/support/text_lines.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/local_time.h"
#include "tools/cli/poll_log.h"

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

// ---- Arguments ----

TEST(PollArguments, TakeTheWindowsDefaultsAndTheirOwnOptions) {
  CliParse parse = ParseCliArguments({"poll"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_EQ(parse.options->command, CliCommand::kPoll);
  EXPECT_EQ(parse.options->periodMs, 500);
  EXPECT_EQ(parse.options->pollCount, 0u);
  EXPECT_FALSE(parse.options->voltage);
  EXPECT_EQ(parse.options->format, PollFormat::kText);

  parse = ParseCliArguments({"--period", "10", "--count", "3", "--voltage", "--format", "jsonl",
                             "--address", "7", "--baud", "2400", "poll"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_EQ(parse.options->periodMs, 10);
  EXPECT_EQ(parse.options->pollCount, 3u);
  EXPECT_TRUE(parse.options->voltage);
  EXPECT_EQ(parse.options->format, PollFormat::kJsonLines);
  EXPECT_EQ(parse.options->address, 7);
  EXPECT_EQ(ParseCliArguments({"--format", "csv", "poll"}).options->format, PollFormat::kCsv);

  const std::vector<std::vector<std::string>> refused = {
      {"--period", "9", "poll"},
      {"--period", "500ms", "poll"},
      {"--count", "0", "poll"},
      {"--count", "-1", "poll"},
      {"--format", "xml", "poll"},
      {"--format", "JSONL", "poll"},
      {"--count", "2", "--count", "3", "poll"},
      {"poll", "500"},
      // Each command's options with it only, never silently ignored.
      {"--period", "100", "read-status"},
      {"--voltage", "search"},
      {"--format", "csv", "search"},
      {"--all", "poll"},
      {"--wait", "100", "poll"},
      {"--all", "read-version"},
  };
  for (const auto& arguments : refused) {
    const CliParse bad = ParseCliArguments(arguments);
    EXPECT_FALSE(bad.options) << ::testing::PrintToString(arguments);
    EXPECT_FALSE(bad.message.empty());
  }
}

// ---- Time stamps ----

// Sets TZ for the test's life; the time stamps are the local time it names.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* value = std::getenv("TZ")) saved_ = value;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TimeZone() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST(PollTimeStamps, AreLocalTimeWithMillisecondsAndTheOffset) {
  const system_clock::time_point at = sys_days(2025y / 1 / 2) + 3h + 4min + 5s + 678ms;
  {
    TimeZone zone("<+0530>-5:30");  // POSIX writes the offset the other way round
    EXPECT_EQ(LocalIsoTime(at), "2025-01-02T08:34:05.678+05:30");
  }
  {
    TimeZone zone("<-0330>3:30");
    EXPECT_EQ(LocalIsoTime(at), "2025-01-01T23:34:05.678-03:30");
  }
  TimeZone zone("UTC0");
  EXPECT_EQ(LocalIsoTime(sys_days(2024y / 2 / 29) + 23h + 59min + 59s + 5ms),
            "2024-02-29T23:59:59.005+00:00");
}

// A time stamp read back as a time point; none when it is not one.
std::optional<system_clock::time_point> ReadTimeStamp(const std::string& text) {
  static const std::regex kStamp(
      R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{3})([+-])(\d{2}):(\d{2})$)");
  std::smatch m;
  if (!std::regex_match(text, m, kStamp)) return std::nullopt;
  const auto n = [&](int i) { return std::stoi(m[i]); };
  const year_month_day date{year(n(1)), month(static_cast<unsigned>(n(2))),
                            day(static_cast<unsigned>(n(3)))};
  if (!date.ok()) return std::nullopt;
  const minutes offset = (m[8] == "-" ? -1 : 1) * (hours(n(9)) + minutes(n(10)));
  return sys_days(date) + hours(n(4)) + minutes(n(5)) + seconds(n(6)) + milliseconds(n(7)) - offset;
}

// The time stamps are now's, in order, and about a period apart (generous bounds: the
// machine may be busy).
void ExpectPaced(const std::vector<std::string>& stamps, milliseconds period) {
  std::optional<system_clock::time_point> previous;
  for (const std::string& stamp : stamps) {
    const auto at = ReadTimeStamp(stamp);
    ASSERT_TRUE(at) << stamp;
    EXPECT_LT(abs(system_clock::now() - *at), 60s) << stamp;
    if (previous) {
      EXPECT_GT(*at - *previous, period / 2) << stamp;
      EXPECT_LT(*at - *previous, period + 1500ms) << stamp;
    }
    previous = at;
  }
}

// ---- Lines and summary on their own ----

ExchangeOutcome Outcome(ExchangeResult result, std::optional<milliseconds> replyTime = {}) {
  ExchangeOutcome outcome;
  outcome.result = result;
  outcome.expected = 9;
  outcome.waitMs = 1000;
  outcome.replyTime = replyTime;
  return outcome;
}

PollReading Good(bool leak, std::uint16_t alarm, milliseconds replyTime = 7ms) {
  PollReading reading;
  reading.outcome = Outcome(ExchangeResult::kGood, replyTime);
  reading.status = DetectorStatus{leak, alarm};
  return reading;
}

PollReading Failed(ExchangeResult result) {
  PollReading reading;
  reading.outcome = Outcome(result);
  return reading;
}

// A text line without its time stamp and the address after it, which must be the reading's.
std::string TextAfterTime(PollLog& log, const PollReading& reading) {
  const std::string line = log.Line(reading);
  const std::string address = " address " + std::to_string(reading.address) + " ";
  const std::size_t at = line.find(' ');
  EXPECT_EQ(line.compare(at, address.size(), address), 0) << line;
  return line.substr(at + address.size());
}

TEST(PollLogText, MarksWhatDiffersFromTheLastGoodPoll) {
  PollLog log(PollFormat::kText, false);
  EXPECT_EQ(log.Header(), "");
  EXPECT_EQ(TextAfterTime(log, Good(false, 0)), "good (7 ms): leak no, alarm 0 (none)\n");
  EXPECT_EQ(TextAfterTime(log, Good(false, 0)), "good (7 ms): leak no, alarm 0 (none)\n");
  EXPECT_EQ(TextAfterTime(log, Good(true, 0)),
            "good (7 ms): leak yes, alarm 0 (none)  [changed: leak]\n");
  // Failed polls in between change nothing: the next good one is weighed against the last.
  EXPECT_EQ(TextAfterTime(log, Failed(ExchangeResult::kNoReply)),
            "failed: no reply within 1000 ms\n");
  EXPECT_EQ(TextAfterTime(log, Good(true, 2)),
            "good (7 ms): leak yes, alarm 2 (probe)  [changed: alarm]\n");
  EXPECT_EQ(TextAfterTime(log, Good(false, 3)),
            "good (7 ms): leak no, alarm 3 (optical and probe)  [changed: leak, alarm]\n");
  EXPECT_EQ(TextAfterTime(log, Good(false, 9)),
            "good (7 ms): leak no, alarm 9 (unknown)  [changed: alarm]\n");

  PollReading garbled = Failed(ExchangeResult::kBadCrc);
  garbled.outcome.replyTime = 8ms;
  EXPECT_EQ(TextAfterTime(log, garbled), "failed (8 ms): 9 bytes with a bad CRC\n");
  EXPECT_EQ(TextAfterTime(log, Failed(ExchangeResult::kLineGone)), "failed: the line is gone\n");
}

TEST(PollLogText, GivesTheVoltageOrWhyItFailed) {
  PollLog log(PollFormat::kText, false);
  PollReading reading = Good(false, 0);
  reading.voltageAsked = true;
  reading.voltage = 12.1f;
  EXPECT_EQ(TextAfterTime(log, reading), "good (7 ms): leak no, alarm 0 (none), voltage 12.1 V\n");
  reading.voltage.reset();
  reading.voltageOutcome = Outcome(ExchangeResult::kNoReply);
  EXPECT_EQ(TextAfterTime(log, reading),
            "good (7 ms): leak no, alarm 0 (none), voltage failed: no reply within 1000 ms\n");
  EXPECT_NE(log.Summary("x").find("\nvoltage readings: 1 good, 1 failed: 1 no reply\n"),
            std::string::npos)
      << log.Summary("x");
}

TEST(PollLogSummary, CountsPollsByCauseAndTimesTheGoodOnes) {
  PollLog log(PollFormat::kJsonLines, false);
  log.Line(Good(false, 0, 9ms));
  log.Line(Failed(ExchangeResult::kNoReply));
  log.Line(Good(false, 0, 4ms));
  log.Line(Failed(ExchangeResult::kLineGone));
  log.Line(Failed(ExchangeResult::kNoReply));
  log.Line(Good(false, 0, 6ms));
  EXPECT_TRUE(log.AnyGood());
  EXPECT_EQ(log.Summary("address 1 at 9600 baud on COM3"),
            "--- poll of address 1 at 9600 baud on COM3 ---\n"
            "6 polls, 3 good, 3 failed: 2 no reply, 1 line gone\n"
            "response time min/avg/max = 4/6.3/9 ms\n");

  PollLog silent(PollFormat::kText, false);
  silent.Line(Failed(ExchangeResult::kNoReply));
  EXPECT_FALSE(silent.AnyGood());
  EXPECT_EQ(silent.Summary("COM1"), "--- poll of COM1 ---\n1 poll, 0 good, 1 failed: 1 no reply\n");
}

const std::vector<std::string> kColumns = {"time",   "address",       "good",        "leak",
                                           "alarm",  "voltage",       "response_ms", "cause",
                                           "detail", "voltage_cause", "changed"};
using Words = std::vector<std::string>;

TEST(PollLogFormats, CarryTheSameFieldsNumbersAsNumbersAndAbsentAsNull) {
  PollReading exception = Failed(ExchangeResult::kException);
  exception.outcome.exceptionCode = 4;
  exception.outcome.received = {0x05, 0x83, 0x04, 0x00, 0x00};
  exception.outcome.replyTime = 6ms;

  PollLog json(PollFormat::kJsonLines, false);
  const auto object = ParseJsonObject(json.Line(exception));
  ASSERT_TRUE(object);
  std::vector<std::string> names;
  for (const auto& [name, value] : *object) names.push_back(name);
  std::vector<std::string> sorted = kColumns;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(names, sorted);
  EXPECT_EQ(object->at("good"), JsonValue(false));
  EXPECT_EQ(object->at("leak"), JsonValue(nullptr));
  EXPECT_EQ(object->at("alarm"), JsonValue(nullptr));
  EXPECT_EQ(object->at("voltage"), JsonValue(nullptr));
  EXPECT_EQ(object->at("response_ms"), JsonValue(6.0));
  EXPECT_EQ(object->at("cause"), JsonValue(std::string("exception")));
  EXPECT_EQ(object->at("detail"),
            JsonValue(std::string("exception 4, slave device failure, from slave 5")));
  EXPECT_EQ(object->at("changed"), JsonValue(nullptr));

  PollLog csv(PollFormat::kCsv, false);
  const auto table = ParseCsv(csv.Header() + csv.Line(exception) + csv.Line(Good(true, 2)));
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 3u);
  EXPECT_EQ((*table)[0], kColumns);
  const std::vector<std::string>& failed = (*table)[1];
  ASSERT_EQ(failed.size(), kColumns.size());
  EXPECT_EQ(std::vector(failed.begin() + 1, failed.end()),
            (std::vector<std::string>{"1", "false", "", "", "", "6", "exception",
                                      "exception 4, slave device failure, from slave 5", "", ""}));
  const std::vector<std::string>& good = (*table)[2];
  EXPECT_EQ(std::vector(good.begin() + 1, good.end()),
            (std::vector<std::string>{"1", "true", "true", "2", "", "7", "", "", "", ""}));
}

// The changed field says what the text's "[changed: ...]" says: a list in JSON, empty when
// nothing changed and null for a failed poll; the names apart by blanks in CSV.
TEST(PollLogFormats, NameWhatChangedAsTheTextMarksIt) {
  const PollReading readings[] = {Good(false, 0), Good(false, 0),
                                  Good(true, 0),  Failed(ExchangeResult::kNoReply),
                                  Good(true, 2),  Good(false, 3)};
  const JsonValue json[] = {Words{}, Words{},        Words{"leak"},
                            nullptr, Words{"alarm"}, Words{"leak", "alarm"}};
  const std::string csv[] = {"", "", "leak", "", "alarm", "leak alarm"};

  PollLog jsonLog(PollFormat::kJsonLines, false);
  PollLog csvLog(PollFormat::kCsv, false);
  std::string csvText = csvLog.Header();
  for (std::size_t i = 0; i < std::size(readings); ++i) {
    const auto object = ParseJsonObject(jsonLog.Line(readings[i]));
    ASSERT_TRUE(object);
    EXPECT_EQ(object->at("changed"), json[i]) << "poll " << i;
    csvText += csvLog.Line(readings[i]);
  }
  const auto table = ParseCsv(csvText);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), std::size(readings) + 1);
  for (std::size_t i = 0; i < std::size(readings); ++i) {
    ASSERT_EQ((*table)[i + 1].size(), kColumns.size());
    EXPECT_EQ((*table)[i + 1].back(), csv[i]) << "poll " << i;
  }
}

TEST(LogParsers, ReadArraysOfStringsAndNothingElse) {
  const auto object = ParseJsonObject(R"({"a":["x", "y,z"], "b": [ ], "c":"[]"})");
  ASSERT_TRUE(object);
  EXPECT_EQ(object->at("a"), JsonValue(Words{"x", "y,z"}));
  EXPECT_EQ(object->at("b"), JsonValue(Words{}));
  EXPECT_EQ(object->at("c"), JsonValue(std::string("[]")));
  for (const char* bad : {R"({"a":["x",]})", R"({"a":[1]})", R"({"a":["x"})", R"({"a":[,]})",
                          R"({"a":[["x"]]})", R"({"a":["x" "y"]})"}) {
    EXPECT_FALSE(ParseJsonObject(bad)) << bad;
  }
}

TEST(PollLogFormats, EscapeWhatCsvAndJsonNeedEscaped) {
  const std::vector<std::string> texts = {
      "plain",    "a, b", "say \"hi\"", "back\\slash", "two\nlines", std::string("nul\0x", 5),
      "\x01\x1f", "",     "\"",         ",",
  };
  for (const std::string& text : texts) {
    const auto object = ParseJsonObject("{\"k\":" + JsonString(text) + "}");
    ASSERT_TRUE(object) << JsonString(text);
    EXPECT_EQ(object->at("k"), JsonValue(text)) << JsonString(text);
    const auto table = ParseCsv(CsvField(text) + "," + CsvField(text) + "\n");
    ASSERT_TRUE(table) << CsvField(text);
    EXPECT_EQ(*table, (std::vector<std::vector<std::string>>{{text, text}})) << CsvField(text);
  }
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(JsonString("\x01"), "\"\\u0001\"");
}

// ---- The program ----

struct Summary {
  int polls = -1;
  int good = -1;
  int failed = -1;
  std::string causes;
  std::optional<int> fastest;
  std::optional<double> mean;
  std::optional<int> slowest;
};

// The summary standard error ends with; polls -1 when there is none.
Summary ReadSummary(const std::string& error) {
  static const std::regex kCounts(R"((\d+) polls?, (\d+) good, (\d+) failed(?:: (.*))?)");
  static const std::regex kTimes(R"(response time min/avg/max = (\d+)/(\d+\.\d)/(\d+) ms)");
  Summary summary;
  std::smatch m;
  for (const std::string& line : Lines(error)) {
    if (std::regex_match(line, m, kCounts)) {
      summary.polls = std::stoi(m[1]);
      summary.good = std::stoi(m[2]);
      summary.failed = std::stoi(m[3]);
      summary.causes = m[4];
    } else if (std::regex_match(line, m, kTimes)) {
      summary.fastest = std::stoi(m[1]);
      summary.mean = std::stod(m[2]);
      summary.slowest = std::stoi(m[3]);
    }
  }
  return summary;
}

const std::string& Text(const JsonObject& object, const std::string& name) {
  static const std::string kNone;
  const auto* text = std::get_if<std::string>(&object.at(name));
  return text ? *text : kNone;
}

// A text line of a poll.
struct TextPoll {
  std::string time;
  int address = -1;
  bool good = false;
  bool leak = false;
  int alarm = 0;
  std::string changed;  // what the line marks as changed
  std::string cause;    // of a failed one
};

std::vector<TextPoll> TextPolls(const std::string& output) {
  static const std::regex kGood(
      R"(^(\S+) address (\d+) good \(\d+ ms\): leak (yes|no), alarm (\d+) \([a-z ]+\)(?:  \[changed: ([a-z, ]+)\])?$)");
  static const std::regex kFailed(R"(^(\S+) address (\d+) failed(?: \(\d+ ms\))?: (.+)$)");
  std::vector<TextPoll> polls;
  std::smatch m;
  for (const std::string& line : Lines(output)) {
    if (std::regex_match(line, m, kGood)) {
      polls.push_back({m[1], std::stoi(m[2]), true, m[3] == "yes", std::stoi(m[4]), m[5], {}});
    } else if (std::regex_match(line, m, kFailed)) {
      polls.push_back({m[1], std::stoi(m[2]), false, false, 0, {}, m[3]});
    }
  }
  return polls;
}

std::vector<std::string> Times(const std::vector<TextPoll>& polls) {
  std::vector<std::string> times;
  for (const TextPoll& poll : polls) times.push_back(poll.time);
  return times;
}

int HeardRequests(SimProcess& sim) {
  const auto answer = sim.Command("requests");
  if (!answer || !answer->starts_with("ok requests ")) return -1;
  return std::stoi(answer->substr(12));
}

class PollProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(sim_.SlavePath().empty()); }
  std::vector<std::string> Poll(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"--device", sim_.SlavePath(), "--address", "5"});
    arguments.push_back("poll");
    return arguments;
  }
  SimProcess sim_{{"--address", "5", "--voltage", "121"}};
};

TEST_F(PollProgramTest, EachFormatCarriesTheReadings) {
  ASSERT_EQ(sim_.Command("leak 1"), "ok leak 1");
  ASSERT_EQ(sim_.Command("alarm 2"), "ok alarm 2");
  {
    CliProcess cli(Poll({"--count", "2", "--period", "100", "--voltage", "--format", "jsonl"}));
    ASSERT_EQ(cli.Wait(30s), 0) << cli.error;
    const std::vector<JsonObject> polls = JsonLines(cli.output);
    ASSERT_EQ(polls.size(), 2u) << cli.output;
    std::vector<std::string> times;
    for (const JsonObject& poll : polls) {
      EXPECT_EQ(poll.at("good"), JsonValue(true));
      EXPECT_EQ(poll.at("leak"), JsonValue(true));
      EXPECT_EQ(poll.at("alarm"), JsonValue(2.0));
      EXPECT_EQ(poll.at("voltage"), JsonValue(12.1));
      const auto* ms = std::get_if<double>(&poll.at("response_ms"));
      ASSERT_TRUE(ms);
      EXPECT_GE(*ms, 0);
      EXPECT_LT(*ms, 1000);
      for (const char* absent : {"cause", "detail", "voltage_cause"}) {
        EXPECT_EQ(poll.at(absent), JsonValue(nullptr)) << absent;
      }
      EXPECT_EQ(poll.at("changed"), JsonValue(Words{}));
      times.push_back(Text(poll, "time"));
    }
    // Each poll waits half a second before its voltage reading, as the window does.
    ExpectPaced(times, 600ms);
    EXPECT_NE(cli.error.find("\nvoltage readings: 2 good, 0 failed\n"), std::string::npos)
        << cli.error;
  }
  {
    CliProcess cli(Poll({"--count", "3", "--period", "100", "--format", "csv"}));
    ASSERT_EQ(cli.Wait(30s), 0) << cli.error;
    const auto table = ParseCsv(cli.output);
    ASSERT_TRUE(table) << cli.output;
    ASSERT_EQ(table->size(), 4u) << cli.output;
    EXPECT_EQ((*table)[0], kColumns);
    std::vector<std::string> times;
    for (std::size_t i = 1; i < table->size(); ++i) {
      const std::vector<std::string>& poll = (*table)[i];
      ASSERT_EQ(poll.size(), kColumns.size());
      times.push_back(poll[0]);
      EXPECT_EQ(std::vector(poll.begin() + 1, poll.begin() + 6),
                (std::vector<std::string>{"5", "true", "true", "2", ""}));
      EXPECT_TRUE(std::regex_match(poll[6], std::regex(R"(\d+)"))) << poll[6];
      EXPECT_EQ(std::vector(poll.begin() + 7, poll.end()),
                (std::vector<std::string>{"", "", "", ""}));
    }
    ExpectPaced(times, 100ms);
  }
  CliProcess cli(Poll({"--count", "3", "--period", "100"}));
  ASSERT_EQ(cli.Wait(30s), 0) << cli.error;
  const std::vector<TextPoll> polls = TextPolls(cli.output);
  ASSERT_EQ(polls.size(), 3u) << cli.output;
  ASSERT_EQ(Lines(cli.output).size(), 3u) << cli.output;
  for (const TextPoll& poll : polls) {
    EXPECT_TRUE(poll.good && poll.leak && poll.alarm == 2 && poll.changed.empty()) << cli.output;
  }
  ExpectPaced(Times(polls), 100ms);
}

TEST_F(PollProgramTest, FailedPollsCarryTheirCause) {
  ASSERT_EQ(sim_.Command("fault exception"), "ok fault exception");
  const std::string detail = "exception 4, slave device failure, from slave 5";
  {
    CliProcess cli(Poll({"--count", "2", "--period", "100", "--format", "csv"}));
    EXPECT_EQ(cli.Wait(30s), 1) << "no poll was good: " << cli.error;
    const auto table = ParseCsv(cli.output);
    ASSERT_TRUE(table) << cli.output;
    ASSERT_EQ(table->size(), 3u) << cli.output;
    for (std::size_t i = 1; i < table->size(); ++i) {
      const std::vector<std::string>& poll = (*table)[i];
      ASSERT_EQ(poll.size(), kColumns.size());
      EXPECT_EQ(std::vector(poll.begin() + 1, poll.begin() + 6),
                (std::vector<std::string>{"5", "false", "", "", ""}));
      EXPECT_EQ(poll[7], "exception");
      EXPECT_EQ(poll[8], detail);
      EXPECT_LT(std::stoi(poll[6]), 500) << "the reply's time, not the end of the 1000 ms wait";
    }
    const Summary summary = ReadSummary(cli.error);
    EXPECT_EQ(summary.polls, 2);
    EXPECT_EQ(summary.causes, "2 exception");
    EXPECT_FALSE(summary.fastest) << "no good poll to time: " << cli.error;
  }
  CliProcess cli(Poll({"--count", "1", "--format", "jsonl"}));
  EXPECT_EQ(cli.Wait(30s), 1) << cli.error;
  const std::vector<JsonObject> polls = JsonLines(cli.output);
  ASSERT_EQ(polls.size(), 1u);
  EXPECT_EQ(polls[0].at("good"), JsonValue(false));
  EXPECT_EQ(polls[0].at("leak"), JsonValue(nullptr));
  EXPECT_EQ(Text(polls[0], "cause"), "exception");
  EXPECT_EQ(Text(polls[0], "detail"), detail);
  EXPECT_TRUE(std::holds_alternative<double>(polls[0].at("response_ms")));
}

// Polls go good and bad as the simulator's fault changes; the summary counts what the lines
// say, and every poll is a request the simulator heard.
TEST_F(PollProgramTest, SummaryAgreesWithTheLinesAndTheSimulator) {
  CliProcess cli(Poll({"--count", "8", "--period", "150", "--format", "jsonl"}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("fault bad-crc"), "ok fault bad-crc");
  ASSERT_TRUE(cli.WaitForOutputLines(5, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("fault none"), "ok fault none");
  ASSERT_EQ(cli.Wait(30s), 0) << cli.error;

  const std::vector<JsonObject> polls = JsonLines(cli.output);
  ASSERT_EQ(polls.size(), 8u) << cli.output;
  int good = 0;
  int badCrc = 0;
  std::vector<double> times;
  for (const JsonObject& poll : polls) {
    const auto* ms = std::get_if<double>(&poll.at("response_ms"));
    ASSERT_TRUE(ms) << "a reply came each time";
    if (poll.at("good") == JsonValue(true)) {
      ++good;
      times.push_back(*ms);
    } else {
      EXPECT_EQ(Text(poll, "cause"), "bad CRC");
      ++badCrc;
    }
  }
  EXPECT_GE(good, 2);
  EXPECT_GE(badCrc, 1);
  const Summary summary = ReadSummary(cli.error);
  EXPECT_EQ(summary.polls, 8) << cli.error;
  EXPECT_EQ(summary.good, good);
  EXPECT_EQ(summary.failed, badCrc);
  EXPECT_EQ(summary.causes, std::to_string(badCrc) + " bad CRC");
  ASSERT_TRUE(summary.fastest && summary.mean && summary.slowest) << cli.error;
  EXPECT_EQ(*summary.fastest, *std::min_element(times.begin(), times.end()));
  EXPECT_EQ(*summary.slowest, *std::max_element(times.begin(), times.end()));
  EXPECT_GE(*summary.mean, *summary.fastest);
  EXPECT_LE(*summary.mean, *summary.slowest);
  EXPECT_EQ(HeardRequests(sim_), 8);
}

// One burst of noise after a reply spoils at most the poll it lands in: the next exchange
// discards what is left of it before its request, and its trace line says so.
TEST_F(PollProgramTest, ANoiseBurstCostsOnePollAtMost) {
  CliProcess cli(Poll({"--period", "100", "--trace"}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("burst 3"), "ok burst 3 0");
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 6, 20s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

  const std::vector<TextPoll> polls = TextPolls(cli.output);
  const auto failed = std::count_if(polls.begin(), polls.end(), [](auto& p) { return !p.good; });
  EXPECT_LE(failed, 1) << cli.output;
  ASSERT_GE(polls.size(), 5u);
  EXPECT_TRUE(std::all_of(polls.end() - 4, polls.end(), [](auto& p) { return p.good; }))
      << cli.output;
  const std::string stale = "; 3 stale bytes discarded\n";
  EXPECT_NE(cli.error.find(stale), std::string::npos) << cli.error;
  EXPECT_EQ(cli.error.find("stale"), cli.error.rfind("stale")) << "only once: " << cli.error;
  EXPECT_EQ(ReadSummary(cli.error).failed, failed) << cli.error;
}

// A reply that comes after its poll gave up is discarded before the next poll's request,
// never read as that poll's reply: each later poll gives the state the detector has then.
TEST_F(PollProgramTest, ALateReplyIsNeverTakenForALaterPollsReply) {
  CliProcess cli(Poll({"--trace"}));
  ASSERT_TRUE(cli.WaitForOutputLines(1, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("fault late"), "ok fault late");
  ASSERT_TRUE(cli.WaitForOutput(" failed: no reply within 1000 ms\n", 20s)) << cli.output;
  ASSERT_EQ(sim_.Command("leak 1"), "ok leak 1");
  ASSERT_EQ(sim_.Command("fault none"), "ok fault none");
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 3, 30s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

  const std::vector<TextPoll> polls = TextPolls(cli.output);
  const auto late = std::find_if(polls.begin(), polls.end(), [](auto& p) { return !p.good; });
  ASSERT_NE(late, polls.end());
  for (auto poll = polls.begin(); poll != polls.end(); ++poll) {
    if (poll < late) {
      EXPECT_FALSE(poll->leak) << cli.output;
    } else if (poll->good) {
      EXPECT_TRUE(poll->leak) << "the late reply, read as this poll's: " << cli.output;
    } else {
      EXPECT_EQ(poll->cause, "no reply within 1000 ms") << cli.output;
    }
  }
  EXPECT_TRUE(polls.back().good) << cli.output;
  EXPECT_NE(cli.error.find("; 9 stale bytes discarded\n"), std::string::npos) << cli.error;
}

// A second stop ends the tool at once, in the middle of a poll's wait; the summary of the
// polls so far still comes, and as polls were good, that is success.
TEST_F(PollProgramTest, ASecondStopStillLeavesTheSummary) {
  CliProcess cli(Poll({"--period", "100"}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("fault silent"), "ok fault silent");
  // A request heard from now on waits a whole second for its reply.
  const int heard = HeardRequests(sim_);
  const auto deadline = steady_clock::now() + 10s;
  while (HeardRequests(sim_) <= heard && steady_clock::now() < deadline) {
    std::this_thread::sleep_for(2ms);
  }
  cli.Signal(SIGINT);
  std::this_thread::sleep_for(50ms);  // two signals, not one pending twice
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 0) << cli.error;
  EXPECT_NE(cli.error.find("kl395-cli: stopped at once\n"), std::string::npos) << cli.error;
  const std::vector<TextPoll> polls = TextPolls(cli.output);
  const Summary summary = ReadSummary(cli.error);
  EXPECT_EQ(summary.polls, static_cast<int>(polls.size())) << cli.error;
  EXPECT_EQ(summary.good,
            std::count_if(polls.begin(), polls.end(), [](auto& p) { return p.good; }));
  EXPECT_GE(summary.good, 2);
  EXPECT_FALSE(HeldExclusive(sim_.SlavePath()));
}

// A poll that waits out its full second overruns ten periods; those are dropped, as a
// timer's ticks are, rather than made up for by polls in a burst.
TEST_F(PollProgramTest, APollThatRunsLateDropsTheSlotsItMissed) {
  CliProcess cli(Poll({"--period", "100"}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("fault silent"), "ok fault silent");
  ASSERT_TRUE(cli.WaitForOutput(" failed: no reply within 1000 ms\n", 20s)) << cli.output;
  ASSERT_EQ(sim_.Command("fault none"), "ok fault none");
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 4, 20s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;
  ExpectPaced(Times(TextPolls(cli.output)), 100ms);
}

// Every good line whose state differs from the last good one's says so, naming what
// changed, and no other line does.
TEST_F(PollProgramTest, StateChangesAreMarkedInTheText) {
  CliProcess cli(Poll({"--period", "100"}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("leak 1"), "ok leak 1");
  ASSERT_TRUE(cli.WaitForOutput("[changed: leak]\n", 20s)) << cli.output;
  ASSERT_EQ(sim_.Command("alarm 3"), "ok alarm 3");
  ASSERT_TRUE(cli.WaitForOutput("[changed: alarm]\n", 20s)) << cli.output;
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 1, 20s));
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

  const std::vector<TextPoll> polls = TextPolls(cli.output);
  ASSERT_EQ(polls.size(), Lines(cli.output).size()) << cli.output;
  int marked = 0;
  for (std::size_t i = 0; i < polls.size(); ++i) {
    ASSERT_TRUE(polls[i].good) << cli.output;
    std::string changed;
    if (i > 0 && polls[i].leak != polls[i - 1].leak) changed = "leak";
    if (i > 0 && polls[i].alarm != polls[i - 1].alarm) {
      changed += changed.empty() ? "alarm" : ", alarm";
    }
    EXPECT_EQ(polls[i].changed, changed) << "line " << i << " of\n" << cli.output;
    marked += !changed.empty();
  }
  EXPECT_EQ(marked, 2);
}

// The JSON lines name the same changes, each against the last good poll.
TEST_F(PollProgramTest, StateChangesAreNamedInTheJsonLines) {
  CliProcess cli(Poll({"--period", "100", "--format", "jsonl"}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("leak 1"), "ok leak 1");
  ASSERT_TRUE(cli.WaitForOutput(R"("changed":["leak"]})", 20s)) << cli.output;
  ASSERT_EQ(sim_.Command("alarm 2"), "ok alarm 2");
  ASSERT_TRUE(cli.WaitForOutput(R"("changed":["alarm"]})", 20s)) << cli.output;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

  const std::vector<JsonObject> polls = JsonLines(cli.output);
  ASSERT_GE(polls.size(), 4u) << cli.output;
  int marked = 0;
  for (std::size_t i = 0; i < polls.size(); ++i) {
    ASSERT_EQ(polls[i].at("good"), JsonValue(true)) << cli.output;
    Words changed;
    if (i > 0 && polls[i].at("leak") != polls[i - 1].at("leak")) changed.push_back("leak");
    if (i > 0 && polls[i].at("alarm") != polls[i - 1].at("alarm")) changed.push_back("alarm");
    EXPECT_EQ(polls[i].at("changed"), JsonValue(changed)) << "line " << i << " of\n" << cli.output;
    marked += !changed.empty();
  }
  EXPECT_EQ(marked, 2);
}

TEST_F(PollProgramTest, StopSignalsEndItWithTheSummaryAndThePortFree) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    CliProcess cli(Poll({"--period", "100"}));
    ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(10s), 0) << "polls were good: " << cli.error;
    const Summary summary = ReadSummary(cli.error);
    EXPECT_EQ(summary.polls, static_cast<int>(Lines(cli.output).size())) << cli.error;
    EXPECT_EQ(summary.good, summary.polls);
    EXPECT_FALSE(HeldExclusive(sim_.SlavePath()));
  }
}

// Reads from `fd` until it has given `count` lines or the time is up.
std::string ReadLines(int fd, std::size_t count, milliseconds timeout) {
  std::string text;
  const auto deadline = steady_clock::now() + timeout;
  while (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) < count) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    pollfd polled = {fd, POLLIN, 0};
    if (left <= 0 || ::poll(&polled, 1, static_cast<int>(left)) <= 0) break;
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

// As under `kl395-cli poll | head -n 3`.
TEST_F(PollProgramTest, AClosedOutputEndsItCleanly) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  CliProcess cli(Poll({"--period", "50"}), ends[1]);
  ::close(ends[1]);
  EXPECT_EQ(Lines(ReadLines(ends[0], 3, 20s)).size(), 3u);
  ::close(ends[0]);
  EXPECT_EQ(cli.Wait(20s), 0) << "ended by SIGPIPE, or taken for a failure: " << cli.error;
  EXPECT_GE(ReadSummary(cli.error).polls, 3) << cli.error;
  EXPECT_EQ(cli.error.find("cannot write"), std::string::npos) << cli.error;
  EXPECT_FALSE(HeldExclusive(sim_.SlavePath()));
}

// A log that cannot be kept is not a plain success.
TEST_F(PollProgramTest, AFullDiskEndsItAsLostOutput) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  CliProcess cli(Poll({"--period", "50"}), full);
  ::close(full);
  EXPECT_EQ(cli.Wait(20s), 4) << cli.error;
  EXPECT_EQ(ReadSummary(cli.error).polls, 1) << cli.error;
  const std::string complaint = "kl395-cli: cannot write the log: No space left on device\n";
  EXPECT_NE(cli.error.find(complaint), std::string::npos) << cli.error;
  EXPECT_EQ(cli.error.find("cannot write", cli.error.find(complaint) + complaint.size()),
            std::string::npos)
      << "told once: " << cli.error;
}

TEST(PollPort, SilentLineFailsAndMissingPortIsPortTrouble) {
  PtyPair line;
  CliProcess cli({"--device", line.PortPath(), "--count", "2", "--period", "100", "poll"});
  EXPECT_EQ(cli.Wait(30s), 1) << cli.error;
  const std::vector<TextPoll> polls = TextPolls(cli.output);
  ASSERT_EQ(polls.size(), 2u) << cli.output;
  for (const TextPoll& poll : polls) EXPECT_EQ(poll.cause, "no reply within 1000 ms");
  EXPECT_TRUE(cli.error.ends_with("\n2 polls, 0 good, 2 failed: 2 no reply\n")) << cli.error;

  TempPortsDir ports;
  ports.Link(4, "/dev/kl395-no-such-device");
  CliProcess missing({"--port", "4", "poll"});
  EXPECT_EQ(missing.Wait(10s), 3);
  EXPECT_NE(missing.error.find("COM4 ('/dev/kl395-no-such-device'): not found"), std::string::npos)
      << missing.error;
  CliProcess unlinked({"--port", "7", "poll"});
  EXPECT_EQ(unlinked.Wait(10s), 3);
  EXPECT_TRUE(unlinked.output.empty());
}

// A COM link's terminal goes away, as a pulled adapter's does, and a new one is linked under
// the same number: the polls fail as "line gone" meanwhile, one line tells it went and one
// that it came back, and the polls then go to the new terminal by themselves. In CSV and
// JSON lines those two lines go to standard error, so that every line of the log is a poll.
TEST(PollRecovery, ALinkedPortThatComesBackIsPolledAgain) {
  const std::string gone = "line gone: COM3 closed; opening it again at each poll\n";
  const std::string back = "line back: COM3 open again\n";
  for (const char* format : {"text", "jsonl"}) {
    SCOPED_TRACE(format);
    const bool text = std::string(format) == "text";
    TempPortsDir ports;
    auto pulled = std::make_unique<SimProcess>();
    SimProcess plugged;
    ASSERT_FALSE(pulled->SlavePath().empty() || plugged.SlavePath().empty());
    ports.Link(3, pulled->SlavePath());
    CliProcess cli({"--port", "3", "--period", "100", "--format", format, "poll"});
    const auto waitForEvent = [&](const std::string& event) {
      return text ? cli.WaitForOutput(event, 20s) : cli.WaitForError(event, 20s);
    };
    ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
    // The link goes first, so that no other terminal can take the pulled one's name while
    // the link still names it.
    std::filesystem::remove(ports.Folder() / "com3");
    pulled->Stop(SIGTERM);
    ASSERT_TRUE(waitForEvent(gone)) << cli.output << cli.error;
    ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 2, 20s)) << "polls go on";
    ports.Link(3, plugged.SlavePath());
    ASSERT_TRUE(waitForEvent(back)) << cli.output << cli.error;
    ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 2, 20s)) << cli.error;
    cli.Signal(SIGINT);
    ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

    // The polls: good, then failed with the line gone, then good again.
    std::vector<std::string> results;
    std::vector<std::string> causes;
    if (text) {
      for (const TextPoll& poll : TextPolls(cli.output)) {
        results.push_back(poll.good ? "good" : "failed");
        if (!poll.good) causes.push_back(poll.cause);
      }
      EXPECT_EQ(Lines(cli.output).size(), results.size() + 2) << "and the two events";
    } else {
      for (const JsonObject& poll : JsonLines(cli.output)) {
        const bool good = poll.at("good") == JsonValue(true);
        results.push_back(good ? "good" : "failed");
        if (!good) causes.push_back(Text(poll, "detail"));
      }
    }
    const auto firstFailed = std::find(results.begin(), results.end(), "failed");
    const auto againGood = std::find(firstFailed, results.end(), "good");
    EXPECT_GE(firstFailed - results.begin(), 2);
    EXPECT_TRUE(std::all_of(firstFailed, againGood, [](auto& r) { return r == "failed"; }));
    EXPECT_TRUE(std::all_of(againGood, results.end(), [](auto& r) { return r == "good"; }));
    EXPECT_GE(results.end() - againGood, 2);
    for (const std::string& cause : causes) EXPECT_EQ(cause, "the line is gone");
    const std::string& events = text ? cli.output : cli.error;
    EXPECT_EQ(events.find(gone), events.rfind(gone));
    EXPECT_EQ(events.find(back), events.rfind(back));
    EXPECT_LT(events.find(gone), events.find(back));

    const Summary summary = ReadSummary(cli.error);
    EXPECT_EQ(summary.polls, static_cast<int>(results.size()));
    EXPECT_EQ(summary.causes, std::to_string(causes.size()) + " line gone");
    EXPECT_EQ(HeardRequests(plugged), results.end() - againGood)
        << "every poll after the line came back, and only those, went to the new terminal";
  }
}

// COM1's link goes with its terminal while the device list holds another, which COM1 would
// be without a link: COM1 is missing until its link is back, and no request ever reaches
// the listed terminal.
TEST(PollRecovery, AMissingLinkIsAMissingPortNotTheNextDevice) {
  TempPortsDir ports;
  auto pulled = std::make_unique<SimProcess>();
  SimProcess listed;
  ASSERT_FALSE(pulled->SlavePath().empty() || listed.SlavePath().empty());
  ports.Link(1, pulled->SlavePath());
  std::filesystem::create_symlink(listed.SlavePath(), ports.DeviceFolder() / "ttyUSB0");
  CliProcess cli({"--port", "1", "--period", "100", "poll"});
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  std::filesystem::remove(ports.Folder() / "com1");
  pulled->Stop(SIGTERM);
  ASSERT_TRUE(cli.WaitForOutput("line gone: COM1 closed", 20s)) << cli.output;
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 3, 20s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

  const std::vector<TextPoll> polls = TextPolls(cli.output);
  const auto gone = std::find_if(polls.begin(), polls.end(), [](auto& p) { return !p.good; });
  ASSERT_GE(polls.end() - gone, 3) << cli.output;
  for (auto poll = gone; poll != polls.end(); ++poll) {
    EXPECT_EQ(poll->cause, "the line is gone") << cli.output;
  }
  EXPECT_EQ(cli.output.find("line back"), std::string::npos) << cli.output;
  EXPECT_EQ(HeardRequests(listed), 0);
}

// A terminal that takes the polled one's name is another device, whether the port was named
// by its path or by a link that still names it: the polls say so, and no request reaches it.
TEST(PollRecovery, AnotherTerminalUnderTheSameNameIsNotPolled) {
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "COM3" : "--device");
    TempPortsDir ports;
    auto pulled = std::make_unique<SimProcess>();
    const std::string name = pulled->SlavePath();
    ASSERT_FALSE(name.empty());
    ports.Link(3, name);
    CliProcess cli(
        {linked ? "--port" : "--device", linked ? "3" : name, "--period", "100", "poll"});
    ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
    pulled.reset();
    ASSERT_TRUE(cli.WaitForOutput("line gone: ", 20s)) << cli.output;
    std::vector<std::unique_ptr<PtyPair>> below;
    const std::unique_ptr<PtyPair> newcomer = PtyPairNamed(name, below, 20s);
    ASSERT_TRUE(newcomer) << "no new terminal took the name " << name;
    const std::string refused =
        " failed: the port did not open again: another device is now " + name + "\n";
    ASSERT_TRUE(cli.WaitForOutput(refused, 20s)) << cli.output;
    ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 2, 20s)) << cli.error;
    cli.Signal(SIGINT);
    ASSERT_EQ(cli.Wait(10s), 0) << cli.error;
    EXPECT_TRUE(newcomer->Receive(1, 300ms).empty()) << "a request reached the newcomer";
    EXPECT_EQ(cli.output.find("line back"), std::string::npos) << cli.output;
  }
}

// The line went, and when it came back another program had the port: the polls say so,
// rather than that the line is still gone, and are good again once that program lets go.
TEST(PollRecovery, APortTakenMeanwhileByAnotherProgramIsToldAsBusy) {
  TempPortsDir ports;
  auto pulled = std::make_unique<SimProcess>();
  SimProcess plugged;
  ASSERT_FALSE(pulled->SlavePath().empty() || plugged.SlavePath().empty());
  ports.Link(3, pulled->SlavePath());
  CliProcess cli({"--port", "3", "--period", "100", "poll"});
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  std::filesystem::remove(ports.Folder() / "com3");
  pulled->Stop(SIGTERM);
  ASSERT_TRUE(cli.WaitForOutput("line gone: COM3 closed", 20s)) << cli.output;
  auto holder = std::make_unique<PortHolder>(plugged.SlavePath(), O_RDONLY);
  ASSERT_GT(holder->pid(), 0);
  ports.Link(3, plugged.SlavePath());
  const std::string busy = " failed: the port did not open again: " + plugged.SlavePath() +
                           ": open in another program, by sleep (pid " +
                           std::to_string(holder->pid()) + ")\n";
  ASSERT_TRUE(cli.WaitForOutput(busy, 20s)) << cli.output;
  holder.reset();
  ASSERT_TRUE(cli.WaitForOutput("line back: COM3 open again\n", 20s)) << cli.output;
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 1, 20s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;
  EXPECT_TRUE(TextPolls(cli.output).back().good) << cli.output;
}

}  // namespace
