// kl395-cli search: its arguments, and the real program against the simulated detector,
// including stop signals in the middle of a scan.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/support/memory_line.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tools/cli/cli_messages.h"
#include "tools/cli/cli_options.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(CliSearchArguments, RatesAreNamedAfterSearchEachOnce) {
  CliParse parse = ParseCliArguments({"search"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_EQ(parse.options->command, CliCommand::kSearch);
  EXPECT_EQ(parse.options->searchRates, (std::array<int, 5>{1, 1, 1, 1, 1}));

  parse = ParseCliArguments({"--port", "3", "search", "19200", "1200"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_EQ(parse.options->portNumber, 3);
  EXPECT_EQ(parse.options->searchRates, (std::array<int, 5>{1, 0, 0, 0, 1}));

  const std::vector<std::vector<std::string>> refused = {
      {"search", "38400"},     {"search", "9600", "9600"},   {"search", "96OO"},
      {"search", "-1200"},     {"--baud", "9600", "search"}, {"--address", "1", "search"},
      {"read-status", "9600"},
  };
  for (const auto& arguments : refused) {
    const CliParse bad = ParseCliArguments(arguments);
    EXPECT_FALSE(bad.options) << ::testing::PrintToString(arguments);
    EXPECT_FALSE(bad.message.empty());
  }
}

TEST(CliSearchArguments, AllAndWaitBelongToSearch) {
  CliParse parse = ParseCliArguments({"--all", "--wait", "100", "search", "9600"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_TRUE(parse.options->searchAll);
  EXPECT_EQ(parse.options->probeWaitMs, 100u);
  parse = ParseCliArguments({"search"});
  ASSERT_TRUE(parse.options);
  EXPECT_FALSE(parse.options->searchAll);
  EXPECT_FALSE(parse.options->probeWaitMs);
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--wait", "9", "search"},
           {"--wait", "10001", "search"},
           {"--wait", "0.1", "search"},
           {"--wait", "100", "--wait", "100", "search"},
           {"--all", "--all", "search"},
           {"--wait", "100", "read-status"},
       }) {
    EXPECT_FALSE(ParseCliArguments(arguments).options) << ::testing::PrintToString(arguments);
  }
}

ExchangeOutcome ProbeOutcome(ExchangeResult result, std::vector<std::uint8_t> received) {
  ExchangeOutcome outcome;
  outcome.result = result;
  outcome.expected = 7;
  outcome.waitMs = 100;
  outcome.queued = static_cast<unsigned>(received.size());
  outcome.received = std::move(received);
  return outcome;
}

// A miss that carried bytes is told apart from silence, a garbled one as such.
TEST(CliSearchMessages, MissesSayWhatCameInstead) {
  EXPECT_EQ(ProbeMissLine("9600 baud", 3, ProbeOutcome(ExchangeResult::kNoReply, {}), false),
            "no reply at 9600 baud from address 3");
  ExchangeOutcome collided = ProbeOutcome(ExchangeResult::kTooLong, std::vector<std::uint8_t>(7));
  collided.queued = 8;
  EXPECT_EQ(ProbeMissLine("2400 baud", 4, collided, false),
            "garbled reply at 2400 baud from address 4: 8 bytes queued for a 7-byte reply "
            "(noise, or two devices answering)");
  EXPECT_TRUE(
      ProbeMissLine("9600 baud", 3,
                    ProbeOutcome(ExchangeResult::kBadCrc, std::vector<std::uint8_t>(7)), false)
          .starts_with("garbled reply at 9600 baud from address 3: 7 bytes with a bad CRC ("));
  EXPECT_TRUE(
      ProbeMissLine("9600 baud", 3, ProbeOutcome(ExchangeResult::kShort, {0x03, 0x03}), false)
          .starts_with("garbled reply at 9600 baud from address 3: only 2 of 7 bytes came ("));
  ExchangeOutcome refused = ProbeOutcome(ExchangeResult::kException, {0x03, 0x83, 0x02, 0, 0});
  refused.exceptionCode = 2;
  EXPECT_EQ(ProbeMissLine("9600 baud", 3, refused, false),
            "no valid reply at 9600 baud from address 3: exception 2, illegal data address, from "
            "slave 3 (a device is there but refuses the request)");
}

// A probe's 8-byte request and the first byte of its reply take 75 ms on the line at 1200
// baud, 10 ms at 9600: a wait that leaves a detector less than --wait auto's 50 ms to start
// its reply after them misses a slower one there, and one shorter than they are finds nobody.
TEST(CliSearchMessages, AWaitTooShortForTheSlowestRateIsWarnedOf) {
  CliOptions options;
  options.probeWaitMs = 100;
  EXPECT_EQ(ShortWaitWarning(options),
            "at 1200 baud a probe's request and the first byte of its reply take 75 ms, so "
            "--wait 100 leaves a detector only 25 ms to start its reply there; --wait auto "
            "leaves it 50 ms at every rate");
  options.probeWaitMs = 125;
  EXPECT_EQ(ShortWaitWarning(options), "");
  options.probeWaitMs = 100;
  options.searchRates = {0, 1, 1, 1, 1};
  EXPECT_EQ(ShortWaitWarning(options), "") << "62 ms left at 2400 baud";
  options.probeWaitMs = 10;
  options.searchRates = {0, 0, 0, 1, 1};
  EXPECT_EQ(ShortWaitWarning(options),
            "at 9600 baud a probe's request and the first byte of its reply alone take 10 ms, "
            "so --wait 10 leaves no time for a detector to answer there; --wait auto waits "
            "60 ms there");
  options.probeWaitMs.reset();
  options.lineTimedWait = true;
  options.searchRates = {1, 1, 1, 1, 1};
  EXPECT_EQ(ShortWaitWarning(options), "");
}

// Waits until the tool holds the port, that is, an exchange or probe is under way.
bool WaitUntilHeld(const std::string& path) {
  const auto deadline = Clock::now() + 10s;
  while (!HeldExclusive(path)) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class CliSearchTest : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& detector) {
    sim_ = std::make_unique<SimProcess>(detector);
    ASSERT_FALSE(sim_->SlavePath().empty());
    ports_.Link(3, sim_->SlavePath());
    ports_.Link(4, "/dev/kl395-no-such-device");
  }
  TempPortsDir ports_;
  std::unique_ptr<SimProcess> sim_;
};

TEST_F(CliSearchTest, PrintsTheRateAndAddressThatAnsweredAfterTheMisses) {
  Start({"--address", "2", "--baud", "19200"});
  CliProcess cli({"--port", "3", "search", "19200", "2400"});
  EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
  EXPECT_EQ(cli.output, "baud: 19200\naddress: 2\n");
  EXPECT_EQ(cli.error,
            "no reply at 2400 baud from address 0\n"
            "no reply at 19200 baud from address 0\n"
            "no reply at 2400 baud from address 1\n"
            "no reply at 19200 baud from address 1\n"
            "no reply at 2400 baud from address 2\n");
}

// Ctrl-C, SIGTERM and SIGHUP end the search after the probe under way, and a second signal
// ends it at once; either way the port is free again, though nothing answers on the line
// and its other end stays open.
TEST(CliStopSignals, EndTheSearchWithThePortFree) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    PtyPair line;
    CliProcess cli({"--device", line.PortPath(), "search", "9600"});
    ASSERT_TRUE(cli.WaitForError("from address 0\n", 10s)) << cli.error;
    ASSERT_TRUE(WaitUntilHeld(line.PortPath()));
    const auto sent = Clock::now();
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(10s), 130) << cli.error;
    EXPECT_LT(Clock::now() - sent, 3s) << "within about one probe";
    EXPECT_TRUE(cli.output.empty());
    EXPECT_TRUE(EndsWith(cli.error, "kl395-cli: search stopped\n")) << cli.error;
    EXPECT_FALSE(HeldExclusive(line.PortPath()));
  }
  PtyPair line;
  CliProcess cli({"--device", line.PortPath(), "search", "9600"});
  ASSERT_TRUE(WaitUntilHeld(line.PortPath()));
  cli.Signal(SIGINT);
  std::this_thread::sleep_for(50ms);  // two signals, not one pending twice
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 130) << cli.error;
  EXPECT_TRUE(EndsWith(cli.error, "kl395-cli: stopped at once\n")) << cli.error;
  EXPECT_FALSE(HeldExclusive(line.PortPath()));
}

// A single command lets its exchange end, then stops; a second signal does not wait for it.
TEST(CliStopSignals, EndASingleCommandWithThePortFree) {
  {
    PtyPair line;
    CliProcess cli({"--device", line.PortPath(), "read-status"});
    ASSERT_TRUE(WaitUntilHeld(line.PortPath()));
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(10s), 130) << cli.error;
    EXPECT_TRUE(cli.error.starts_with(
        "kl395-cli: no valid reply from the detector: no reply within 1000 ms\n"))
        << cli.error;
    EXPECT_TRUE(EndsWith(cli.error, "\nkl395-cli: stopped\n")) << cli.error;
    EXPECT_FALSE(HeldExclusive(line.PortPath()));
  }
  PtyPair line;
  CliProcess cli({"--device", line.PortPath(), "read-status"});
  ASSERT_TRUE(WaitUntilHeld(line.PortPath()));
  cli.Signal(SIGTERM);
  std::this_thread::sleep_for(50ms);
  cli.Signal(SIGHUP);
  EXPECT_EQ(cli.Wait(10s), 130) << cli.error;
  EXPECT_EQ(cli.error, "kl395-cli: stopped at once\n");
  EXPECT_FALSE(HeldExclusive(line.PortPath()));
}

// Once the detector has acknowledged a write, it has changed: a stop while the change is being
// confirmed, even a second stop, ends the command as done, with the write reported, so that
// a script does not repeat it at an address or rate that is no longer the detector's.
TEST(CliStopSignals, EndASetCommandAsDoneOnceItsWriteLanded) {
  struct Case {
    std::vector<std::string> command;
    std::vector<std::uint8_t> write;
    std::string done;
  };
  const std::vector<Case> cases = {
      {{"set-sensitivity", "3"},
       WithCrc({0x01, 0x06, 0x00, 0x02, 0x00, 0x03}),
       "sensitivity set to 3"},
      {{"set-address", "9"}, WithCrc({0x01, 0x06, 0x00, 0x08, 0x00, 0x09}), "address set to 9"},
      {{"set-baud", "19200"},
       WithCrc({0x01, 0x06, 0x00, 0x09, 0x00, 0x04}),
       "baud rate set to 19200"},
  };
  for (const Case& c : cases) {
    for (const int stops : {1, 2}) {
      SCOPED_TRACE(c.done + ", " + std::to_string(stops) + " stops");
      PtyPair line;
      std::vector<std::string> arguments = {"--device", line.PortPath()};
      arguments.insert(arguments.end(), c.command.begin(), c.command.end());
      CliProcess cli(arguments);
      ASSERT_EQ(line.Receive(8, 10s), c.write);
      line.Send(c.write);  // a write's acknowledgement repeats it
      ASSERT_EQ(line.Receive(8, 10s).size(), 8u) << "the confirmation's request: " << cli.error;
      cli.Signal(SIGINT);
      if (stops == 2) {
        std::this_thread::sleep_for(50ms);
        cli.Signal(SIGTERM);
      }
      EXPECT_EQ(cli.Wait(10s), 0) << cli.error;
      EXPECT_EQ(cli.output, c.done + " (stopped before it was confirmed)\n") << cli.error;
      if (stops == 2) {
        EXPECT_EQ(cli.error, "kl395-cli: stopped at once\n");
      }
      EXPECT_FALSE(HeldExclusive(line.PortPath()));
    }
  }
}

// Scanning on, every detector on the line is listed as it answers, at a wait short enough
// for a quick scan, and the end tells how many answered.
TEST_F(CliSearchTest, AllListsEveryDetectorOnTheLine) {
  Start({"--address", "2", "--also", "7"});
  const auto started = Clock::now();
  CliProcess cli({"--port", "3", "--all", "--wait", "40", "search", "9600"});
  EXPECT_EQ(cli.Wait(100s), 0) << cli.error;
  EXPECT_LT(Clock::now() - started, 80s) << "256 probes at --wait 40, not the default 500 ms";
  EXPECT_EQ(cli.output, "9600 baud, address 2\n9600 baud, address 7\n");
  EXPECT_NE(cli.error.find("\nno reply at 9600 baud from address 255\n"), std::string::npos)
      << "the scan went on to the end";
  EXPECT_TRUE(EndsWith(cli.error,
                       "\nkl395-cli: 254 probes missed: 254 no reply\n"
                       "kl395-cli: 2 detectors answered\n"))
      << cli.error;
}

// Two detectors at one address answer together and collide: the garbled reply is told as
// such, with --trace its bytes before it, and is no find.
TEST_F(CliSearchTest, TwoDetectorsAtOneAddressAreToldAsAGarbledReply) {
  Start({"--address", "4", "--also", "4"});
  CliProcess cli({"--port", "3", "--all", "--trace", "--wait", "40", "search", "9600"});
  EXPECT_EQ(cli.Wait(100s), 1) << cli.error;
  EXPECT_TRUE(cli.output.empty()) << cli.output;
  const std::string garbled = "\ngarbled reply at 9600 baud from address 4: ";
  const auto at = cli.error.find(garbled);
  ASSERT_NE(at, std::string::npos) << cli.error;
  // Before it, this probe's trace: its request and the bytes that came.
  const auto request = cli.error.rfind(" TX ", at);
  const auto reply = cli.error.find(" RX ", request);
  ASSERT_NE(request, std::string::npos);
  EXPECT_LT(reply, at) << cli.error.substr(request, at - request);
  EXPECT_NE(cli.error.find("\nkl395-cli: 256 probes missed: 255 no reply, 1 "), std::string::npos)
      << cli.error.substr(cli.error.size() - 300);
  EXPECT_TRUE(EndsWith(cli.error, "\nkl395-cli: no detector answered at any address\n"));
}

// What was found is found: a search scanning on that is stopped after a find has done its job.
TEST_F(CliSearchTest, AllStoppedAfterAFindIsDone) {
  Start({"--address", "2"});
  CliProcess cli({"--port", "3", "--all", "--wait", "40", "search", "9600"});
  ASSERT_TRUE(cli.WaitForOutput("9600 baud, address 2\n", 30s)) << cli.error;
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 0) << cli.error;
  EXPECT_EQ(cli.output, "9600 baud, address 2\n");
  EXPECT_TRUE(EndsWith(cli.error, "kl395-cli: 1 detector answered\nkl395-cli: search stopped\n"))
      << cli.error;
}

// A device that answers every request, whatever its address and rate, answers from its own
// address: only that address is a find, at each rate; every other probe's reply is garbled.
TEST_F(CliSearchTest, ADeviceThatAnswersForAllIsFoundAtItsOwnAddressOnly) {
  Start({"--address", "5", "--fault", "answer-all"});
  CliProcess cli({"--port", "3", "--all", "search", "2400", "19200"});
  EXPECT_EQ(cli.Wait(100s), 0) << cli.error.substr(0, 2000);
  EXPECT_EQ(cli.output, "2400 baud, address 5\n19200 baud, address 5\n");
  EXPECT_NE(cli.error.find("\ngarbled reply at 19200 baud from address 255: a reply from address "
                           "5, not 255 ("),
            std::string::npos)
      << cli.error.substr(cli.error.size() - 500);
  EXPECT_TRUE(EndsWith(cli.error,
                       "\nkl395-cli: 510 probes missed: 510 wrong address\n"
                       "kl395-cli: 2 detectors answered\n"))
      << cli.error.substr(cli.error.size() - 500);
}

TEST_F(CliSearchTest, MissingPortEndsTheSearchWithItsStatus) {
  Start({});
  CliProcess cli({"--port", "4", "search"});
  EXPECT_EQ(cli.Wait(10s), 3);
  EXPECT_NE(cli.error.find("COM4 ('/dev/kl395-no-such-device'): not found"), std::string::npos)
      << cli.error;

  CliProcess device({"--device", "/dev/kl395-no-such-device", "search", "1200"});
  EXPECT_EQ(device.Wait(10s), 3);
  EXPECT_TRUE(device.output.empty());

  CliProcess unlinked({"--port", "7", "search", "1200"});
  EXPECT_EQ(unlinked.Wait(10s), 3);
  EXPECT_NE(unlinked.error.find("COM7: not found"), std::string::npos) << unlinked.error;
}

// COM n is looked up once, at the start: with its link gone mid-scan, the probes go on on
// the same terminal, and end as port trouble only once that terminal is gone, never falling
// through to another device (the device folder stands in for /dev, and holds none).
TEST(CliSearchPort, ComNumberIsResolvedOnceAtTheStart) {
  TempPortsDir ports;
  PtyPair line;
  ports.Link(3, line.PortPath());
  CliProcess cli({"--port", "3", "search", "9600"});
  ASSERT_TRUE(cli.WaitForError("from address 0\n", 10s)) << cli.error;
  std::filesystem::remove(ports.Folder() / "com3");
  ASSERT_TRUE(cli.WaitForError("from address 2\n", 10s)) << cli.error;
  ASSERT_TRUE(WaitUntilHeld(line.PortPath())) << "still probing the same terminal";
  line.Pull();
  EXPECT_EQ(cli.Wait(10s), 3) << cli.error;
  // The terminal can go before the open ("not found") or between the open and its line
  // settings: either way the message names the terminal the search began on.
  EXPECT_NE(cli.error.find("kl395-cli: serial port COM3 ('" + line.PortPath() + "'): "),
            std::string::npos)
      << cli.error;
}

}  // namespace
