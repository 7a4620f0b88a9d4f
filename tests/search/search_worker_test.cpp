// The scan itself, on an in-memory line with a virtual clock: full courses of up to 1280
// probes run in milliseconds, and every report is taken on the worker's own thread, as the
// synchronous send would hand it to the window.
#include "search/search_worker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/detector.h"
#include "res/texts.h"
#include "search/search_messages.h"
#include "tests/support/memory_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kSearchPort = 4;

// What the window could see while handling one report.
struct Report {
  int message = 0;
  int baudRate = 0;
  int address = 0;  // g_searchAddress for progress, g_foundAddress when found
  std::string status;
  std::string error;
  int openPorts = 0;  // the worker's port must be closed by then
};

class SearchWorkerTest : public ::testing::Test {
 protected:
  SearchWorkerTest() {
    TickRates({1, 1, 1, 1, 1});
    g_searchPortNumber = kSearchPort;
    g_searchError.clear();
    g_searchActive = 1;
  }
  ~SearchWorkerTest() override { g_searchActive = 0; }

  static void TickRates(std::array<int, 5> ticked) { g_searchRateEnabled = ticked; }

  SearchEnd Scan(MemoryLine& line, const SearchScope& scope = {}) {
    const SearchWindow window{[&](int message) { return Record(line, message); },
                              [&](std::string_view text) { boxes_.emplace_back(text); }};
    return SearchWorker(
        window,
        [&](int portNumber, int baudRate) {
          portsOpened_.push_back(portNumber);
          if (refuseOpenNumber_ == static_cast<int>(portsOpened_.size())) return CommHandle();
          return line.Open(baudRate);
        },
        scope);
  }

  bool Record(const MemoryLine& line, int message) {
    const bool found = message == WM_SEARCH_FOUND;
    reports_.push_back({message, g_searchBaud, found ? g_foundAddress : g_searchAddress,
                        g_searchStatus, g_searchError, line.OpenPorts()});
    if (onReport_) onReport_();
    return windowTakesReports_;
  }

  std::vector<Report> reports_;
  std::vector<std::string> boxes_;
  std::vector<int> portsOpened_;
  int refuseOpenNumber_ = 0;  // the open (counted from 1) that fails; 0 for none
  bool windowTakesReports_ = true;
  std::function<void()> onReport_;
};

int ProbedAddress(const MemoryRequest& request) {
  return request.bytes.at(0);
}

// The probe reads register 4 of the address under test.
Bytes ProbeFrame(std::uint8_t address) {
  return WithCrc({address, 0x03, 0x00, 0x04, 0x00, 0x01});
}

// Stops the search while the `number`th probe (counted from 1) is on the line.
void StopDuringProbe(MemoryLine& line, std::size_t number) {
  line.OnRequest([&line, number](const MemoryRequest&) {
    if (line.Requests().size() == number) g_searchActive = 0;
  });
}

TEST_F(SearchWorkerTest, DetectorAtAddressZeroAnd1200IsFoundByTheFirstProbe) {
  MemoryLine line(0, 1200);
  EXPECT_EQ(Scan(line), SearchEnd::kFound);

  ASSERT_EQ(line.Requests().size(), 1u);
  EXPECT_EQ(line.Requests()[0].baudRate, 1200);
  EXPECT_EQ(line.Requests()[0].bytes, ProbeFrame(0));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].message, WM_SEARCH_FOUND);
  EXPECT_EQ(reports_[0].baudRate, 1200);
  EXPECT_EQ(reports_[0].address, 0);
  EXPECT_EQ(reports_[0].openPorts, 0);
  EXPECT_EQ(portsOpened_, std::vector<int>{kSearchPort});
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(SearchWorkerTest, ScanIsAddressMajorOverTheTickedRatesLowestFirst) {
  MemoryLine line(7, 19200);
  EXPECT_EQ(Scan(line), SearchEnd::kFound);

  const auto& requests = line.Requests();
  ASSERT_EQ(requests.size(), 7u * 5 + 5);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(requests[i].baudRate, kBaudRates[i % 5]);
    EXPECT_EQ(requests[i].bytes, ProbeFrame(static_cast<std::uint8_t>(i / 5)));
  }
  ASSERT_EQ(reports_.size(), requests.size());
  for (std::size_t i = 0; i + 1 < reports_.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reports_[i].message, WM_SEARCH_PROGRESS);
    EXPECT_EQ(reports_[i].baudRate, kBaudRates[i % 5]);
    EXPECT_EQ(reports_[i].address, static_cast<int>(i / 5));
    EXPECT_EQ(reports_[i].status, text::kSearching);
    EXPECT_EQ(reports_[i].openPorts, 0);
  }
  EXPECT_EQ(reports_.back().message, WM_SEARCH_FOUND);
  EXPECT_EQ(reports_.back().baudRate, 19200);
  EXPECT_EQ(reports_.back().address, 7);
}

TEST_F(SearchWorkerTest, OnlyTheTickedRatesAreProbed) {
  TickRates({0, 0, 0, 0, 1});
  MemoryLine found(7, 19200);
  EXPECT_EQ(Scan(found), SearchEnd::kFound);
  EXPECT_EQ(found.Requests().size(), 8u);

  // Only a value of exactly 1 ticks a rate; a box in its third state does not.
  TickRates({2, 0, 0, 1, 0});
  reports_.clear();
  MemoryLine silent([](auto, int) { return Bytes(); });
  EXPECT_EQ(Scan(silent), SearchEnd::kExhausted);
  ASSERT_EQ(silent.Requests().size(), 256u);
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(silent.Requests()[i].baudRate, 9600);
    EXPECT_EQ(ProbedAddress(silent.Requests()[i]), static_cast<int>(i));
  }
  EXPECT_EQ(reports_.size(), 257u);
}

TEST_F(SearchWorkerTest, FullScanWithoutAnswerTriesAllAndReportsExhaustion) {
  MemoryLine silent([](auto, int) { return Bytes(); });
  EXPECT_EQ(Scan(silent), SearchEnd::kExhausted);

  EXPECT_EQ(silent.Requests().size(), 256u * 5);
  EXPECT_EQ(silent.OpenPorts(), 0);
  ASSERT_EQ(reports_.size(), 256u * 5 + 1);
  EXPECT_TRUE(reports_[256 * 5 - 1].error.empty());
  EXPECT_EQ(reports_.back().message, WM_SEARCH_PROGRESS);
  EXPECT_EQ(reports_.back().error, text::kSearchExhausted);
  EXPECT_TRUE(boxes_.empty());
  // Each miss costs the 500 ms wait and the read time-out: ten to twelve minutes in all.
  EXPECT_GE(silent.NowMs(), 10u * 60 * 1000);
  EXPECT_LE(silent.NowMs(), 12u * 60 * 1000);
}

// The command line's bus scan: every responder reported, and the scan goes on to the end.
TEST_F(SearchWorkerTest, ScanningOnReportsEveryResponderAndEndsExhausted) {
  TickRates({0, 0, 0, 1, 1});
  MemoryLine bus([](std::span<const std::uint8_t> request, int baudRate) {
    const bool answers =
        (request[0] == 3 && baudRate == 9600) || (request[0] == 200 && baudRate == 19200);
    return answers ? WithCrc({request[0], 0x03, 0x02, 0x00, 0x78}) : Bytes();
  });
  EXPECT_EQ(Scan(bus, {.scanOn = true}), SearchEnd::kExhausted);
  EXPECT_EQ(bus.Requests().size(), 512u);
  std::vector<std::pair<int, int>> found;
  for (const Report& report : reports_) {
    if (report.message == WM_SEARCH_FOUND) found.emplace_back(report.baudRate, report.address);
  }
  EXPECT_EQ(found, (std::vector<std::pair<int, int>>{{9600, 3}, {19200, 200}}));
  EXPECT_EQ(reports_.back().error, text::kSearchExhausted);
}

TEST_F(SearchWorkerTest, AShorterWaitShortensEveryUnansweredProbe) {
  TickRates({0, 0, 0, 1, 0});
  MemoryLine silent([](auto, int) { return Bytes(); });
  EXPECT_EQ(Scan(silent, {.probeWaitMs = 100}), SearchEnd::kExhausted);
  // 100 ms of waiting and the 40 ms read time-out a probe, rather than 540 ms.
  EXPECT_GE(silent.NowMs(), 256u * 140);
  EXPECT_LE(silent.NowMs(), 256u * 150);
}

TEST_F(SearchWorkerTest, NoRateTickedReportsExhaustionWithoutSendingAnything) {
  TickRates({0, 0, 0, 0, 0});
  MemoryLine line(1, 9600);
  EXPECT_EQ(Scan(line), SearchEnd::kExhausted);
  EXPECT_TRUE(portsOpened_.empty());
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].error, text::kSearchExhausted);
}

// A device that answers for every address would otherwise be "found" at the first one.
TEST_F(SearchWorkerTest, OnlyAReplyThatAnswersTheProbeCounts) {
  TickRates({0, 0, 0, 1, 0});
  MemoryLine line([](std::span<const std::uint8_t> request, int) {
    switch (request[0]) {
      case 1:  // a bad CRC
        return Bytes{0x01, 0x03, 0x02, 0x00, 0x78, 0x00, 0x00};
      case 2:  // a good CRC, one byte too long
        return WithCrc({0x02, 0x03, 0x02, 0x00, 0x78, 0x00});
      case 3:  // seven bytes with a good CRC, from another address
        return WithCrc({0x09, 0x03, 0x02, 0x00, 0x01});
      case 4:  // the right address, another function
        return WithCrc({0x04, 0x04, 0x02, 0x00, 0x01});
      case 5:
        return WithCrc({0x05, 0x03, 0x02, 0x00, 0x78});
      default:
        return Bytes();
    }
  });
  EXPECT_EQ(Scan(line), SearchEnd::kFound);
  EXPECT_EQ(line.Requests().size(), 6u);
  EXPECT_EQ(g_foundAddress, 5);
}

TEST_F(SearchWorkerTest, StopDuringAProbeLetsItFinishAndReport) {
  {
    SCOPED_TRACE("a failed probe in mid-scan: reported, then the worker ends");
    MemoryLine silent([](auto, int) { return Bytes(); });
    StopDuringProbe(silent, 3);
    EXPECT_EQ(Scan(silent), SearchEnd::kStopped);
    EXPECT_EQ(silent.Requests().size(), 3u);
    ASSERT_EQ(reports_.size(), 3u);
    EXPECT_EQ(reports_.back().baudRate, 4800);
  }
  {
    SCOPED_TRACE("the failed last probe: reported, then the exhaustion");
    TickRates({1, 0, 1, 0, 0});
    reports_.clear();
    g_searchActive = 1;
    MemoryLine silent([](auto, int) { return Bytes(); });
    StopDuringProbe(silent, 512);
    EXPECT_EQ(Scan(silent), SearchEnd::kExhausted);
    ASSERT_EQ(reports_.size(), 513u);
    EXPECT_EQ(reports_[511].baudRate, 4800);
    EXPECT_EQ(reports_[511].address, 255);
    EXPECT_EQ(reports_.back().error, text::kSearchExhausted);
  }
  {
    SCOPED_TRACE("a probe that is answered: the detector is reported as found");
    TickRates({1, 1, 1, 1, 1});
    reports_.clear();
    g_searchActive = 1;
    MemoryLine line(2, 2400);
    StopDuringProbe(line, 12);
    EXPECT_EQ(Scan(line), SearchEnd::kFound);
    EXPECT_EQ(reports_.back().message, WM_SEARCH_FOUND);
    EXPECT_EQ(reports_.back().address, 2);
  }
}

TEST_F(SearchWorkerTest, StopSeenBeforeTheNextProbeEndsWithoutAFurtherReport) {
  MemoryLine silent([](auto, int) { return Bytes(); });
  onReport_ = [&] {
    if (reports_.size() == 6) g_searchActive = 0;
  };
  EXPECT_EQ(Scan(silent), SearchEnd::kStopped);
  EXPECT_EQ(silent.Requests().size(), 6u);
  EXPECT_EQ(reports_.size(), 6u);

  // Stopped before it began: nothing is sent, and nothing is claimed to be found.
  reports_.clear();
  EXPECT_EQ(Scan(silent), SearchEnd::kStopped);
  EXPECT_EQ(silent.Requests().size(), 6u);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(SearchWorkerTest, PortThatDoesNotOpenIsToldOnceAndEndsTheWorker) {
  MemoryLine silent([](auto, int) { return Bytes(); });
  refuseOpenNumber_ = 3;
  EXPECT_EQ(Scan(silent), SearchEnd::kPortTrouble);
  EXPECT_EQ(boxes_, std::vector<std::string>{std::string(text::kSearchPortTrouble)});
  EXPECT_EQ(portsOpened_, (std::vector<int>{kSearchPort, kSearchPort, kSearchPort}));
  EXPECT_EQ(reports_.size(), 2u);  // the window is not told
}

TEST_F(SearchWorkerTest, WorkerEndsOnceTheWindowTakesNoMoreReports) {
  MemoryLine silent([](auto, int) { return Bytes(); });
  windowTakesReports_ = false;
  EXPECT_EQ(Scan(silent), SearchEnd::kStopped);
  EXPECT_EQ(silent.Requests().size(), 1u);
}

}  // namespace
