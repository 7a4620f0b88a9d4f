// The simulator keeps a real line's time: seen through the serial layer, a reply comes no
// sooner than the request's and the reply's own bytes and the turnaround allow, a byte at a
// time, with faults and several detectors alike; --instant drops that time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/detector.h"
#include "device/exchange_texts.h"
#include "serial/line_time.h"
#include "tests/support/sim_process.h"

namespace {

using std::chrono::milliseconds;

constexpr int kSlowRate = 1200;
constexpr milliseconds kTurnaround{10};  // the simulator's default
constexpr std::size_t kRequest = 8;
constexpr std::size_t kStatusReply = 9;

// The least a reply of `replyBytes` can take on a real line, from the end of the write, less
// what a busy machine may put between the write's return and our reading of the clock.
milliseconds LineFloor(std::size_t replyBytes, int rate = kSlowRate) {
  constexpr milliseconds kClockSlack{5};
  return std::chrono::floor<milliseconds>(LineTime(kRequest + replyBytes, rate)) + kTurnaround -
         kClockSlack;
}

class OpenPort {
 public:
  OpenPort(const std::string& device, int baud) : handle_(OpenCommDevice(device, baud)) {}
  ~OpenPort() { CloseCommPort(handle_); }
  CommHandle handle() const { return handle_; }

 private:
  CommHandle handle_;
};

TEST(PacedLine, AReplyAt1200BaudTakesAtLeastItsLineTime) {
  SimProcess sim({"--baud", "1200"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  const OpenPort port(sim.SlavePath(), kSlowRate);
  const auto status = ReadStatus(port.handle(), 1);
  ASSERT_TRUE(status.outcome.good()) << ExchangeSummary(status.outcome, false);
  ASSERT_TRUE(status.outcome.replyTime);
  EXPECT_GE(*status.outcome.replyTime, LineFloor(kStatusReply)) << "152 ms at 1200 baud";
  EXPECT_LT(*status.outcome.replyTime, milliseconds(1000));
}

TEST(PacedLine, TheReplyComesAByteAtATime) {
  SimProcess sim({"--baud", "1200"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  const OpenPort port(sim.SlavePath(), kSlowRate);
  const RtuRequest request = BuildRtuRequest({1, 0x03, 0, reg::kLeakState, 0, 2});
  const auto written = std::chrono::steady_clock::now();
  WriteComm(port.handle(), request);
  const unsigned first = WaitForInput(port.handle(), 1, 1000);
  EXPECT_GE(std::chrono::steady_clock::now() - written, LineFloor(1))
      << "the request, the turnaround and the byte itself";
  // The rest of the reply is still on its way, 8.3 ms a byte.
  EXPECT_GE(first, 1u);
  EXPECT_LT(first, kStatusReply - 2);
  EXPECT_EQ(WaitForInput(port.handle(), kStatusReply, 1000), kStatusReply);
}

// Whatever comes back, garbled or refused, took its line time after the turnaround.
TEST(PacedLine, FaultsAndSeveralDetectorsKeepTheLinesTime) {
  constexpr int kRate = 2400;
  const std::vector<std::vector<std::string>> detectors = {
      {"--fault", "bytewise"}, {"--fault", "exception"}, {"--fault", "stray"}, {"--also", "1"}};
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (const auto& detector : detectors) {
    std::vector<std::string> args = {"--baud", std::to_string(kRate)};
    args.insert(args.end(), detector.begin(), detector.end());
    sims.push_back(std::make_unique<SimProcess>(args, SimTiming::kLineTime));
  }
  for (std::size_t i = 0; i < detectors.size(); ++i) {
    SCOPED_TRACE(detectors[i].back());
    ASSERT_FALSE(sims[i]->SlavePath().empty());
    const OpenPort port(sims[i]->SlavePath(), kRate);
    const ExchangeOutcome outcome =
        RtuExchange(port.handle(), {1, 0x03, 0, reg::kLeakState, 0, 2}, kStatusReply, 300);
    ASSERT_FALSE(outcome.received.empty());
    ASSERT_TRUE(outcome.replyTime);
    EXPECT_GE(*outcome.replyTime, LineFloor(outcome.received.size(), kRate));
  }
}

TEST(PacedLine, InstantRepliesDropTheLinesTime) {
  SimProcess sim({"--baud", "1200"});
  ASSERT_FALSE(sim.SlavePath().empty());
  const OpenPort port(sim.SlavePath(), kSlowRate);
  const auto status = ReadStatus(port.handle(), 1);
  ASSERT_TRUE(status.outcome.good());
  EXPECT_LT(*status.outcome.replyTime, LineFloor(kStatusReply) - milliseconds(25));
}

}  // namespace
