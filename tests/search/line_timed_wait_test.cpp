// Line-timed waits: what each rate's probe waits, and a silent five-rate scan with them on
// an in-memory line with a virtual clock, its ports set as the command line sets them.
#include "search/line_timed_wait.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "search/search_worker.h"
#include "serial/line_time.h"
#include "tests/support/memory_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LineTimedWait, TheRequestTheFirstReplyByteAndFiftyMillisecondsAtEachRate) {
  const std::map<int, unsigned> expected = {
      {1200, 125}, {2400, 88}, {4800, 69}, {9600, 60}, {19200, 55}};
  for (const auto& [rate, waitMs] : expected) {
    EXPECT_EQ(LineTimedProbeWaitMs(rate), waitMs) << rate;
    EXPECT_GE(std::chrono::milliseconds(waitMs),
              LineTime(9, rate) + std::chrono::milliseconds(kTurnaroundAllowanceMs));
  }
}

class LineTimedScanTest : public ::testing::Test {
 protected:
  LineTimedScanTest() {
    g_searchRateEnabled = {1, 1, 1, 1, 1};
    g_searchError.clear();
    g_searchActive = 1;
  }
  ~LineTimedScanTest() override { g_searchActive = 0; }
};

// Each silent probe ends at its own rate's wait, to the millisecond of the tick count.
TEST_F(LineTimedScanTest, EachSilentProbeEndsAtItsRatesWait) {
  MemoryLine silent([](auto, int) { return Bytes(); });
  const SearchWindow window{[](int) { return true; }, [](std::string_view) {}};
  const PortOpener quickPorts = [&](int, int baudRate) {
    const CommHandle port = silent.Open(baudRate);
    SetCommSilenceEndsWait(port, true);
    SetCommReadsBegunReply(port, true);
    return port;
  };
  EXPECT_EQ(SearchWorker(window, quickPorts, {.scanOn = true, .lineTimedWait = true}),
            SearchEnd::kExhausted);
  const std::vector<MemoryRequest>& requests = silent.Requests();
  ASSERT_EQ(requests.size(), 256u * 5);
  for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
    const unsigned probeMs = requests[i + 1].atMs - requests[i].atMs;
    EXPECT_EQ(probeMs, LineTimedProbeWaitMs(requests[i].baudRate) + 1) << i;
  }
  // 101 s of line time and allowance, rather than the 11.6 min of the window's waits.
  EXPECT_LE(silent.NowMs(), 256u * (125 + 88 + 69 + 60 + 55 + 5));
}

}  // namespace
