// Every detector of a line in one poll: the --address list, each detector's lines, changes and
// summary kept apart, and the real program against two simulated detectors on one terminal.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/cli/log_parsers.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_lines.h"
#include "tools/cli/address_list.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/poll_log.h"

namespace {

using namespace std::chrono_literals;

TEST(AddressList, TakesAddressesAndRangesInTheOrderGiven) {
  std::vector<int> addresses;
  EXPECT_EQ(ParseAddressList("3,7,10-12", &addresses), "");
  EXPECT_EQ(addresses, (std::vector<int>{3, 7, 10, 11, 12}));
  EXPECT_EQ(ParseAddressList("12,0,5-5", &addresses), "");
  EXPECT_EQ(addresses, (std::vector<int>{12, 0, 5}));
  EXPECT_EQ(ParseAddressList("0-255", &addresses), "");
  EXPECT_EQ(addresses.size(), 256u);
  EXPECT_EQ(AddressListText({3, 7, 10}), "3, 7, 10");

  for (const char* bad : {"", "3,", ",3", "3,,7", "7-3", "3-", "-3", "1-256", "256", " 3", "3 ,7",
                          "3;7", "0x10", "3-5-7", "+3"}) {
    std::vector<int> kept = {1};
    EXPECT_NE(ParseAddressList(bad, &kept), "") << bad;
    EXPECT_EQ(kept, std::vector<int>{1}) << "left as it was: " << bad;
  }
  EXPECT_EQ(ParseAddressList("3,5-7,6", &addresses), "--address names address 6 twice");
}

TEST(AddressList, OnlyPollTakesSeveral) {
  const CliParse poll = ParseCliArguments({"--address", "3,7", "poll"});
  ASSERT_TRUE(poll.options) << poll.message;
  EXPECT_EQ(poll.options->addresses, (std::vector<int>{3, 7}));
  EXPECT_EQ(poll.options->address, 3);
  const CliParse one = ParseCliArguments({"--address", "9", "read-status"});
  ASSERT_TRUE(one.options) << one.message;
  EXPECT_EQ(one.options->address, 9);
  EXPECT_EQ(ParseCliArguments({"read-status"}).options->addresses, std::vector<int>{1});
  for (const char* command : {"read-status", "set-sensitivity", "read-version"}) {
    std::vector<std::string> arguments = {"--address", "3,7", command};
    if (std::string(command) == "set-sensitivity") arguments.push_back("2");
    const CliParse refused = ParseCliArguments(arguments);
    EXPECT_FALSE(refused.options) << command;
    EXPECT_EQ(refused.message,
              "only poll takes several addresses; " + std::string(command) + " takes one");
  }
  EXPECT_FALSE(ParseCliArguments({"--address", "3-4", "set-address", "5"}).options);
}

PollReading Good(int address, bool leak, std::uint16_t alarm, int ms) {
  PollReading reading;
  reading.address = address;
  reading.outcome.result = ExchangeResult::kGood;
  reading.outcome.replyTime = std::chrono::milliseconds(ms);
  reading.status = DetectorStatus{leak, alarm};
  return reading;
}

PollReading Failed(int address) {
  PollReading reading;
  reading.address = address;
  reading.outcome.result = ExchangeResult::kNoReply;
  reading.outcome.expected = 9;
  reading.outcome.waitMs = 1000;
  return reading;
}

// The text after the time stamp.
std::string AfterTime(const std::string& line) {
  return line.substr(line.find(' ') + 1);
}

// Each detector's state is weighed against its own last good poll, never against the other
// detector's, which a shared one would mark as a change at every turn.
TEST(PollLogOfALine, MarksChangesPerDetectorAndSumsUpEachAndAll) {
  PollLog log(PollFormat::kText, false, 2);
  EXPECT_EQ(AfterTime(log.Line(Good(3, false, 0, 8))),
            "address 3 good (8 ms): leak no, alarm 0 (none)\n");
  EXPECT_EQ(AfterTime(log.Line(Good(7, true, 2, 6))),
            "address 7 good (6 ms): leak yes, alarm 2 (probe)\n");
  EXPECT_EQ(AfterTime(log.Line(Good(3, false, 0, 10))),
            "address 3 good (10 ms): leak no, alarm 0 (none)\n");
  EXPECT_EQ(AfterTime(log.Line(Failed(7))), "address 7 failed: no reply within 1000 ms\n");
  EXPECT_EQ(AfterTime(log.Line(Good(7, false, 2, 7))),
            "address 7 good (7 ms): leak no, alarm 2 (probe)  [changed: leak]\n");
  EXPECT_TRUE(log.AnyGood());
  EXPECT_EQ(log.Summary("addresses 3, 7 at 9600 baud on COM1"),
            "--- poll of addresses 3, 7 at 9600 baud on COM1 ---\n"
            "address 3: 2 polls, 2 good, 0 failed\n"
            "address 3: response time min/avg/max = 8/9.0/10 ms\n"
            "address 7: 3 polls, 2 good, 1 failed: 1 no reply\n"
            "address 7: response time min/avg/max = 6/6.5/7 ms\n"
            "in all: 5 polls, 4 good, 1 failed: 1 no reply\n"
            "in all: response time min/avg/max = 6/7.8/10 ms\n");

  PollLog json(PollFormat::kJsonLines, false, 2);
  json.Line(Good(3, false, 0, 8));
  const auto first = ParseJsonObject(json.Line(Good(7, true, 0, 8)));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->at("address"), JsonValue(7.0));
  EXPECT_EQ(first->at("changed"), JsonValue(std::vector<std::string>{}));
  PollLog csv(PollFormat::kCsv, false, 2);
  const auto table = ParseCsv(csv.Header() + csv.Line(Good(12, true, 1, 8)));
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 2u);
  EXPECT_EQ((*table)[0][1], "address");
  EXPECT_EQ((*table)[1][1], "12");
}

// The summary's counts of one detector ("address 3: 4 polls, 4 good, ...") or of all.
struct Counts {
  int polls = -1;
  int good = -1;
  std::string causes;
};

std::map<std::string, Counts> SummaryCounts(const std::string& error) {
  static const std::regex kCounts(
      R"(^(address \d+|in all): (\d+) polls?, (\d+) good, \d+ failed(?:: (.*))?$)");
  std::map<std::string, Counts> counts;
  std::smatch m;
  for (const std::string& line : Lines(error)) {
    if (std::regex_match(line, m, kCounts)) {
      counts[m[1]] = {std::stoi(m[2]), std::stoi(m[3]), m[4]};
    }
  }
  return counts;
}

int HeardRequests(SimProcess& sim) {
  const auto answer = sim.Command("requests");
  if (!answer || !answer->starts_with("ok requests ")) return -1;
  return std::stoi(answer->substr(12));
}

// Two detectors on one terminal, polled in turn each period through the one port held; a
// leak starts on the second, and only its lines say so.
TEST(ALine, EachDetectorIsPolledInTurnAndChangesAreItsOwn) {
  SimProcess sim({"--address", "3", "--also", "7"});
  ASSERT_FALSE(sim.SlavePath().empty());
  CliProcess cli({"--device", sim.SlavePath(), "--address", "3,7", "--period", "100", "--format",
                  "jsonl", "poll"});
  ASSERT_TRUE(cli.WaitForOutputLines(4, 20s)) << cli.error;
  ASSERT_EQ(sim.Command("at 7 leak 1"), "ok at 7 leak 1");
  ASSERT_TRUE(cli.WaitForOutput(R"("address":7,"good":true,"leak":true)", 20s)) << cli.output;
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 2, 20s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(10s), 0) << cli.error;

  const std::vector<JsonObject> polls = JsonLines(cli.output);
  ASSERT_GE(polls.size(), 6u);
  int changes = 0;
  for (std::size_t i = 0; i < polls.size(); ++i) {
    const JsonObject& poll = polls[i];
    EXPECT_EQ(poll.at("address"), JsonValue(i % 2 == 0 ? 3.0 : 7.0)) << "line " << i;
    EXPECT_EQ(poll.at("good"), JsonValue(true)) << "line " << i;
    if (poll.at("address") == JsonValue(3.0)) {
      EXPECT_EQ(poll.at("leak"), JsonValue(false)) << "line " << i;
    }
    const bool changed = poll.at("changed") != JsonValue(std::vector<std::string>{});
    if (changed) {
      ++changes;
      EXPECT_EQ(poll.at("address"), JsonValue(7.0));
      EXPECT_EQ(poll.at("changed"), JsonValue(std::vector<std::string>{"leak"}));
    }
  }
  EXPECT_EQ(changes, 1);

  const auto counts = SummaryCounts(cli.error);
  ASSERT_EQ(counts.size(), 3u) << cli.error;
  const int polled = static_cast<int>(polls.size());
  EXPECT_EQ(counts.at("address 3").polls + counts.at("address 7").polls, polled) << cli.error;
  EXPECT_EQ(counts.at("in all").polls, polled);
  EXPECT_EQ(counts.at("in all").good, polled);
  EXPECT_NE(cli.error.find("--- poll of addresses 3, 7 at 9600 baud on '" + sim.SlavePath()),
            std::string::npos)
      << cli.error;
  EXPECT_EQ(HeardRequests(sim), polled) << "one request a poll";
}

// A detector that does not answer takes its full second at every turn; the round outlasts
// the period, which is said once, the answering detector is polled all the same, and one
// good detector makes the poll a success.
TEST(ALine, ADetectorThatDoesNotAnswerCostsItsTurnsOnly) {
  SimProcess sim({"--address", "3"});
  ASSERT_FALSE(sim.SlavePath().empty());
  CliProcess cli(
      {"--device", sim.SlavePath(), "--address", "9,3", "--period", "100", "--count", "3", "poll"});
  ASSERT_EQ(cli.Wait(60s), 0) << cli.error;
  const std::vector<std::string> lines = Lines(cli.output);
  ASSERT_EQ(lines.size(), 6u) << cli.output;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string expected =
        i % 2 == 0 ? "address 9 failed: no reply within 1000 ms" : "address 3 good (";
    EXPECT_EQ(AfterTime(lines[i]).rfind(expected, 0), 0u) << lines[i];
  }
  const std::string overrun = "kl395-cli: a round of polls took ";
  EXPECT_NE(cli.error.find(overrun), std::string::npos) << cli.error;
  EXPECT_EQ(cli.error.find(overrun), cli.error.rfind(overrun)) << "said once: " << cli.error;
  const auto counts = SummaryCounts(cli.error);
  EXPECT_EQ(counts.at("address 9").polls, 3) << cli.error;
  EXPECT_EQ(counts.at("address 9").causes, "3 no reply");
  EXPECT_EQ(counts.at("address 3").good, 3);
  EXPECT_EQ(counts.at("in all").polls, 6);
}

}  // namespace
