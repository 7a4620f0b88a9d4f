// A reply that has begun by the end of a short wait is given the line's own time to come
// whole, on a detector that keeps a real line's time and on a pseudo-terminal driven by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/detector.h"
#include "serial/comm_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// At 1200 baud the probe's request takes 67 ms on the line, the turnaround 10 ms and the
// first reply byte 8 ms: by the end of a 100 ms wait the reply has begun, and it is whole
// only at 135 ms.
constexpr int kSlowRate = 1200;
constexpr unsigned kShortWaitMs = 100;

CommHandle OpenQuickProbePort(const std::string& device, bool readsBegunReply) {
  const CommHandle port = OpenCommDevice(device, kSlowRate);
  SetCommSilenceEndsWait(port, true);
  SetCommReadsBegunReply(port, readsBegunReply);
  return port;
}

TEST(BegunReply, AReplyBegunByTheEndOfAShortWaitIsReadWhole) {
  SimProcess sim({"--address", "1", "--baud", "1200"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());

  const CommHandle reading = OpenQuickProbePort(sim.SlavePath(), true);
  EXPECT_TRUE(CommReadsBegunReply(reading));
  const Written whole = ProbeAddress(reading, 1, kShortWaitMs);
  CloseCommPort(reading);
  EXPECT_TRUE(whole) << static_cast<int>(whole.outcome.result);
  EXPECT_EQ(whole.outcome.received.size(), 7u);

  // Without the habit the wait's end finds only the first bytes queued: cut short.
  const CommHandle cutting = OpenQuickProbePort(sim.SlavePath(), false);
  const Written cut = ProbeAddress(cutting, 1, kShortWaitMs);
  CloseCommPort(cutting);
  EXPECT_EQ(cut.outcome.result, ExchangeResult::kShort);

  const CommHandle fresh = OpenCommDevice(sim.SlavePath(), kSlowRate);
  EXPECT_FALSE(CommReadsBegunReply(fresh)) << "off when a port opens";
  CloseCommPort(fresh);
}

// A reply that stops after a few bytes is not waited for without end: the rest's line time
// and one gap between bytes, then it is a reply cut short.
TEST(BegunReply, AReplyThatStopsIsCutShortAfterTheLinesTimeForTheRest) {
  PtyPair line;
  const CommHandle port = OpenQuickProbePort(line.PortPath(), true);
  std::thread detector([&] {
    line.Receive(8);
    std::this_thread::sleep_for(20ms);
    line.Send(std::vector<std::uint8_t>{0x01, 0x03, 0x02});
  });
  const auto start = Clock::now();
  const Written probe = ProbeAddress(port, 1, kShortWaitMs);
  const auto took = Clock::now() - start;
  detector.join();
  CloseCommPort(port);
  EXPECT_EQ(probe.outcome.result, ExchangeResult::kShort);
  EXPECT_EQ(probe.outcome.received.size(), 3u);
  // The wait, then 4 bytes of 8.3 ms and the 100 ms gap, then the read's own time-outs.
  EXPECT_GE(took, 230ms);
  EXPECT_LT(took, 1000ms);
}

}  // namespace
