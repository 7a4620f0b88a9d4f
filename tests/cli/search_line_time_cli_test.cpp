// kl395-cli search against detectors that keep a real line's time: short waits that still
// find a detector at 1200 baud, and waits taken from the line at every rate.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/detector.h"
#include "tests/cli/cli_process.h"
#include "tests/support/sim_process.h"
#include "tools/cli/cli_options.h"

namespace {

using namespace std::chrono_literals;

// A detector's reply has begun by the end of a 100 ms wait at 1200 baud (its request, a
// 10 ms turnaround and one byte take 85 ms) and is whole only at 135 ms: it is read whole.
TEST(CliSearchOnTheLine, AShortWaitFindsADetectorWhoseReplyHasBegun) {
  SimProcess sim({"--address", "1", "--baud", "1200"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  CliProcess cli({"--device", sim.SlavePath(), "--wait", "100", "search", "1200"});
  EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
  EXPECT_EQ(cli.output, "baud: 1200\naddress: 1\n");
}

TEST(CliSearchOnTheLine, WaitAutoIsTakenFromTheLine) {
  const CliParse parse = ParseCliArguments({"--wait", "auto", "search"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_TRUE(parse.options->lineTimedWait);
  EXPECT_FALSE(parse.options->probeWaitMs);
  EXPECT_TRUE(ProbeWaitChosen(*parse.options));
  EXPECT_FALSE(ProbeWaitChosen(*ParseCliArguments({"search"}).options));
  const CliParse wrong = ParseCliArguments({"--wait", "Auto", "search"});
  EXPECT_FALSE(wrong.options);
  EXPECT_EQ(wrong.message, "--wait must be auto or a whole number from 10 to 10000, not 'Auto'");
  EXPECT_FALSE(ParseCliArguments({"--wait", "auto", "--wait", "100", "search"}).options);
  EXPECT_FALSE(ParseCliArguments({"--wait", "auto", "read-status"}).options);
}

// A scan of all five rates finds a detector at whichever rate it talks.
TEST(CliSearchOnTheLine, WaitAutoFindsADetectorAtEveryRate) {
  for (const int rate : kBaudRates) {
    const std::string baud = std::to_string(rate);
    SCOPED_TRACE(baud);
    SimProcess sim({"--address", "0", "--baud", baud}, SimTiming::kLineTime);
    ASSERT_FALSE(sim.SlavePath().empty());
    CliProcess cli({"--device", sim.SlavePath(), "--wait", "auto", "search"});
    EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
    EXPECT_EQ(cli.output, "baud: " + baud + "\naddress: 0\n");
  }
}

// The slowest rate and a detector that takes 45 of the 50 ms it is allowed to turn round.
TEST(CliSearchOnTheLine, WaitAutoFindsADetectorSlowToTurnRoundAt1200Baud) {
  SimProcess sim({"--address", "2", "--baud", "1200", "--turnaround", "45"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  CliProcess cli({"--device", sim.SlavePath(), "--wait", "auto", "search", "1200"});
  EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
  EXPECT_EQ(cli.output, "baud: 1200\naddress: 2\n");
  EXPECT_EQ(cli.error,
            "no reply at 1200 baud from address 0\nno reply at 1200 baud from address 1\n");
}

}  // namespace
