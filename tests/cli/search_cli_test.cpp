// kl395-cli search: its arguments, and the real program against the simulated detector,
// including stop signals in the middle of a scan.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
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
  EXPECT_NE(cli.error.find("kl395-cli: serial port COM3 ('" + line.PortPath() + "'): not found"),
            std::string::npos)
      << cli.error;
}

}  // namespace
