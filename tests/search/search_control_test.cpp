// The search from the window: the search button, the two reports and the worker's thread,
// on the fake toolkit, against the simulated detector or a silent pseudo-terminal.
#include <chrono>
#include <thread>

#include "res/texts.h"
#include "tests/support/pty_pair.h"
#include "tests/window/main_window_fixture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

// Generous: a failed probe takes about 550 ms, and the tests may run under sanitizers.
constexpr auto kScanTimeout = 30s;

constexpr int kSearchBusyGroup[] = {IDC_ACQUIRE_BUTTON, IDC_READ_SENSITIVITY, IDC_READ_VERSION,
                                    IDC_SET_ADDRESS,    IDC_SET_BAUD,         IDC_SET_SENSITIVITY,
                                    IDC_FACTORY_BUTTON};

class SearchControlTest : public MainWindowTest {
 protected:
  ~SearchControlTest() override { window_.reset(); }  // before the silent line goes

  // Opens the window with COM1 on a line where nothing answers; the test reads the probes.
  void StartOnSilentLine() {
    ports_.Link(1, silentLine_.PortPath());
    window_ = std::make_unique<ui::FakeWindow>(IDD_MAIN, dialog_);
  }
  void TickOnly(int rateBox) {
    for (int box : kSearchRateBoxes) Window().SetCheckState(box, box == rateBox ? 1 : 0);
  }
  bool BusyGroupEnabled(bool enabled) {
    for (int id : kSearchBusyGroup) {
      if (Window().IsEnabled(id) != enabled) return false;
    }
    return true;
  }
  std::string Status() { return Window().Text(IDC_SEARCH_RESULT); }
  std::string Button() { return Window().Text(IDC_SEARCH_BUTTON); }
  bool PumpUntilStatus(std::string_view status) {
    return Window().PumpUntil([&] { return Status() == status; }, kScanTimeout);
  }
  bool PumpUntilBoxes(std::size_t count) {
    return Window().PumpUntil([&] { return Boxes().size() >= count; }, kScanTimeout);
  }
  // Presses the idle button; a stopped worker that is still ending is waited for first.
  bool PressToSearch() {
    Window().Click(IDC_SEARCH_BUTTON);
    return Button() == text::kStopSearch;
  }

  PtyPair silentLine_;
};

TEST_F(SearchControlTest, FoundDetectorBecomesTheWindowsAddressAndRate) {
  detector = {"--address", "5", "--baud", "19200", "--version", "13"};
  Start();
  TickOnly(IDC_SEARCH_19200);
  Window().Click(IDC_SEARCH_BUTTON);
  EXPECT_EQ(Button(), text::kStopSearch);
  EXPECT_TRUE(BusyGroupEnabled(false));
  EXPECT_EQ(Status(), "搜索结果") << "unchanged until the first report";
  Window().Select(IDC_PORT_COMBO, 1);  // COM2 leads nowhere; the search keeps COM1

  ASSERT_TRUE(PumpUntilBoxes(1));
  EXPECT_EQ(Boxes(), Strings{"产品参数为：波特率19200地址5"});
  EXPECT_EQ(Status(), "搜索到的参数为:波特率19200地址5");
  EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "5");
  EXPECT_EQ(Window().Selection(IDC_BAUD_COMBO), 4);
  EXPECT_EQ(Button(), text::kStartSearch);
  EXPECT_TRUE(BusyGroupEnabled(true));

  // The user goes straight on with the settings found.
  Window().Select(IDC_PORT_COMBO, 0);
  Window().Click(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver1.3");
}

TEST_F(SearchControlTest, StopDuringAProbeLetsItReportAndANewStartWaitsForIt) {
  StartOnSilentLine();
  TickOnly(IDC_SEARCH_9600);
  Window().Click(IDC_SEARCH_BUTTON);
  ASSERT_TRUE(PumpUntilStatus("正在搜索波特率9600地址0"));
  ASSERT_EQ(silentLine_.Receive(16).size(), 16u) << "the second probe is on the line";

  Window().Click(IDC_SEARCH_BUTTON);
  EXPECT_EQ(Button(), text::kStartSearch);
  EXPECT_TRUE(BusyGroupEnabled(true)) << "idle at once";
  // The stopped worker still owes the report of its probe: a press now serves that report,
  // waits for the worker's end, and only then starts a fresh search from address 0.
  Window().onMessageBox = [](std::string_view) { ADD_FAILURE() << "no box expected"; };
  std::vector<std::string> statuses;
  const auto start = Clock::now();
  Window().Click(IDC_SEARCH_BUTTON);
  EXPECT_LT(Clock::now() - start, 2s) << "at most about one probe";
  EXPECT_EQ(Status(), text::kSearchStopped) << "the old probe's report came first";
  EXPECT_EQ(Button(), text::kStopSearch);
  EXPECT_EQ(silentLine_.Receive(8).size(), 8u) << "the new worker's first probe";
  ASSERT_TRUE(PumpUntilStatus("正在搜索波特率9600地址0"));
}

// Stopped during a probe that then answers, a worker still reports its find. A handler that
// opens the port at once, on another port, must serve that report before it opens: otherwise
// the report arrives while acquisition runs, enables the buttons acquisition disables and
// rewrites the address its polls use.
class StoppedSearchTest : public SearchControlTest {
 protected:
  void SetUp() override {
    SearchControlTest::SetUp();
    ports_.Link(3, otherLine_.PortPath());
    StartOnSilentLine();
  }
  void StopDuringAProbeThatAnswers() {
    TickOnly(IDC_SEARCH_9600);
    Window().Click(IDC_SEARCH_BUTTON);
    ASSERT_EQ(silentLine_.Receive(8).size(), 8u) << "the probe of address 0 is on the line";
    Window().Click(IDC_SEARCH_BUTTON);
    Window().Select(IDC_PORT_COMBO, 2);  // COM3
    silentLine_.Send(kAnswer);
  }
  void ExpectTheFindWasServed() {
    EXPECT_EQ(Status(), "搜索到的参数为:波特率9600地址0");
    ASSERT_FALSE(Boxes().empty());
    EXPECT_EQ(Boxes().front(), "产品参数为：波特率9600地址0");
    EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "0");
  }

  static constexpr std::uint8_t kAnswer[] = {0x00, 0x03, 0x02, 0x00, 0x0A, 0x05, 0x83};  // from 0
  PtyPair otherLine_;
};

TEST_F(StoppedSearchTest, AcquisitionStartsOnlyAfterTheLastReport) {
  StopDuringAProbeThatAnswers();
  Window().Click(IDC_ACQUIRE_BUTTON);
  ASSERT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);
  ExpectTheFindWasServed();
  EXPECT_EQ(Boxes().size(), 1u);
  Window().PumpUntil([] { return false; }, 800ms);  // nothing is left to arrive
  for (int id : {IDC_READ_VERSION, IDC_SET_ADDRESS, IDC_SEARCH_BUTTON, IDC_FACTORY_BUTTON}) {
    EXPECT_FALSE(Window().IsEnabled(id)) << id << " stays disabled while acquisition runs";
  }
  Window().Tick();
  EXPECT_EQ(otherLine_.Receive(8),
            (std::vector<std::uint8_t>{0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC5, 0xDA}))
      << "polls COM3 at the address found";
  Window().Click(IDC_ACQUIRE_BUTTON);
}

TEST_F(StoppedSearchTest, ACommandOpensThePortOnlyAfterTheLastReport) {
  StopDuringAProbeThatAnswers();
  std::jthread detector([&] { otherLine_.Receive(8); });  // takes the command's request
  Window().Click(IDC_READ_VERSION);
  detector.join();
  ExpectTheFindWasServed();
  EXPECT_EQ(Boxes(), (Strings{"产品参数为：波特率9600地址0", std::string(text::kReadFailed)}))
      << "then the command ran on COM3, where nothing answers";
  EXPECT_TRUE(PortIsFree());
}

TEST_F(SearchControlTest, ClosingTheWindowEndsARunningWorkerWithinAProbe) {
  StartOnSilentLine();
  Window().Click(IDC_SEARCH_BUTTON);
  ASSERT_EQ(silentLine_.Receive(8).size(), 8u);

  const auto start = Clock::now();
  Window().Close();
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_TRUE(PortIsFree());
  EXPECT_TRUE(silentLine_.Receive(8, 800ms).empty()) << "no probe after the close";
}

TEST_F(SearchControlTest, ClosingTheWindowReleasesAWorkerWaitingOnItsMessageBox) {
  Start();
  const CommHandle holder = OpenCommPort(1, 9600);  // the worker's first probe finds it busy
  ASSERT_TRUE(holder);
  Window().Click(IDC_SEARCH_BUTTON);
  std::this_thread::sleep_for(200ms);  // its box now waits for the window's thread
  const auto start = Clock::now();
  Window().Close();
  EXPECT_LT(Clock::now() - start, 2s);
  CloseCommPort(holder);
  EXPECT_TRUE(Boxes().empty()) << "never shown: the window went first";
}

TEST_F(SearchControlTest, PortInUseIsToldOnceAndTheWindowKeepsSearchingUntilStopped) {
  Start();
  const CommHandle holder = OpenCommPort(1, 9600);  // another user of COM1
  ASSERT_TRUE(holder);
  Window().Click(IDC_SEARCH_BUTTON);
  ASSERT_TRUE(PumpUntilBoxes(1));
  EXPECT_FALSE(Window().PumpUntil([&] { return Boxes().size() > 1; }, 300ms));
  CloseCommPort(holder);
  EXPECT_EQ(Boxes(), Strings{std::string(text::kSearchPortTrouble)});
  EXPECT_EQ(Status(), "搜索结果");
  EXPECT_EQ(Button(), text::kStopSearch);
  EXPECT_TRUE(BusyGroupEnabled(false));

  Window().Click(IDC_SEARCH_BUTTON);
  EXPECT_EQ(Button(), text::kStartSearch);
  EXPECT_TRUE(BusyGroupEnabled(true));
}

TEST_F(SearchControlTest, NoRateTickedReportsNothingFoundAtOnce) {
  Start();
  TickOnly(0);  // none
  const auto start = Clock::now();
  Window().Click(IDC_SEARCH_BUTTON);
  ASSERT_TRUE(PumpUntilBoxes(1));
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(Boxes(), Strings{std::string(text::kSearchExhausted)});
  EXPECT_EQ(Status(), text::kNoParametersFound);
  EXPECT_EQ(Button(), text::kStartSearch);
  EXPECT_TRUE(BusyGroupEnabled(true));
}

// Search cycles as fast as the detector answers, stopped at every stage, for the thread
// sanitizer: one worker at a time, and the globals only ever handed over by the send.
TEST_F(SearchControlTest, StressStartStopAndCloseNeverOverlapTwoWorkers) {
  detector = {"--address", "0", "--baud", "1200"};
  Start();
  for (int cycle = 0; cycle < 200; ++cycle) {
    SCOPED_TRACE(cycle);
    ASSERT_TRUE(PressToSearch());
    if (cycle % 3 == 1) {
      Window().Click(IDC_SEARCH_BUTTON);  // stop at once: before or during the first probe
      EXPECT_EQ(Button(), text::kStartSearch);
      continue;
    }
    const std::size_t boxes = Boxes().size();
    ASSERT_TRUE(Window().PumpUntil([&] { return Button() == text::kStartSearch; }, kScanTimeout));
    ASSERT_EQ(Boxes().size(), boxes + 1);
    EXPECT_EQ(Boxes().back(), "产品参数为：波特率1200地址0");
  }
  ASSERT_TRUE(PressToSearch());
  window_.reset();  // closes while the worker runs
  EXPECT_TRUE(PortIsFree());
}

}  // namespace
