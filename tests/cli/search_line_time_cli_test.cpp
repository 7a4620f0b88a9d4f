// kl395-cli search against detectors that keep a real line's time: short waits that still
// find a detector at 1200 baud.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/sim_process.h"

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

}  // namespace
