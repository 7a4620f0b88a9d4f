// Acquisition and factory mode against the simulated detector, on the fake toolkit. The test
// ticks timer 1 itself.
#include <signal.h>

#include <chrono>
#include <memory>

#include "device/acquisition.h"
#include "res/texts.h"
#include "tests/support/pty_pair.h"
#include "tests/window/main_window_fixture.h"

namespace {

using namespace std::chrono_literals;

class AcquisitionTest : public MainWindowTest {
 protected:
  void StartAcquisition() {
    Window().Click(IDC_ACQUIRE_BUTTON);
    ASSERT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);
  }
  std::array<int, 3> Lamps() {
    return {Window().Icon(IDC_LEAK_LAMP), Window().Icon(IDC_OPTICAL_LAMP),
            Window().Icon(IDC_PROBE_LAMP)};
  }
  std::array<bool, 3> Dimmed() {
    return {Window().IconDimmed(IDC_LEAK_LAMP), Window().IconDimmed(IDC_OPTICAL_LAMP),
            Window().IconDimmed(IDC_PROBE_LAMP)};
  }
  void EnterFactoryMode() {
    Window().onModal = [](ui::FakeWindow& password) {
      password.Type(IDC_PASSWORD_EDIT, std::string(text::kAccessCode));
      return ui::kIdOk;
    };
    Window().Click(IDC_FACTORY_BUTTON);
    ASSERT_EQ(g_factoryMode, 1);
  }
};

constexpr int kRed = IDI_LAMP_RED;
constexpr int kGreen = IDI_LAMP_GREEN;
constexpr int kOff = IDI_LAMP_OFF;
constexpr std::array<bool, 3> kUndimmed = {false, false, false};
constexpr std::array<bool, 3> kAllDimmed = {true, true, true};

TEST_F(AcquisitionTest, EachPollShowsTheLeakAndAlarmTypeOnTheLamps) {
  Start();
  StartAcquisition();
  EXPECT_EQ(Window().TimerPeriod(), 500u);
  EXPECT_FALSE(PortIsFree()) << "held from start to stop";

  struct Step {
    const char* leak;
    const char* alarm;
    std::array<int, 3> lamps;  // leak, optical, probe
    std::string_view leakText;
  };
  const Step steps[] = {
      {"leak 0", "alarm 0", {kGreen, kGreen, kGreen}, text::kNormal},
      {"leak 1", "alarm 1", {kRed, kRed, kGreen}, text::kLeak},
      {"leak 1", "alarm 2", {kRed, kGreen, kRed}, text::kLeak},
      {"leak 0", "alarm 3", {kGreen, kRed, kRed}, text::kNormal},
      {"leak 0", "alarm 4", {kGreen, kRed, kRed}, text::kNormal},  // 4: alarm lamps unchanged
  };
  int polls = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.alarm);
    Console(step.leak);
    Console(step.alarm);
    Window().Tick();
    EXPECT_EQ(Lamps(), step.lamps);
    EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), step.leakText);
    EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), std::to_string(++polls));
  }
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "0");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(AcquisitionTest, FailedPollsAreCountedAndLeaveTheLampsAlone) {
  Start();
  StartAcquisition();
  Console("leak 1");
  Window().Tick();
  Window().Type(IDC_ADDRESS_EDIT, "2");  // read afresh at each poll: nobody at 2
  Window().Tick();
  Window().Type(IDC_ADDRESS_EDIT, "1");
  Console("fault bad-crc");
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "1");
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "2");
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), text::kNoData);
  EXPECT_EQ(Lamps(), (std::array<int, 3>{kRed, kGreen, kGreen}));
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);
  EXPECT_TRUE(Boxes().empty()) << "a failed poll is counted, not reported";
}

// A silent detector: from the second failed poll in a row the lamps show their reading greyed,
// and nothing else of the window changes for it.
TEST_F(AcquisitionTest, LampsAreDimmedWhileTheirReadingIsStale) {
  Start();
  StartAcquisition();
  Console("leak 1");
  Console("alarm 2");
  Window().Tick();
  const std::array<int, 3> reading = {kRed, kGreen, kRed};
  ASSERT_EQ(Lamps(), reading);
  EXPECT_EQ(Dimmed(), kUndimmed);

  Console("fault silent");
  Window().Tick();
  EXPECT_EQ(Dimmed(), kUndimmed) << "one failed poll";
  Window().Tick();
  EXPECT_EQ(Dimmed(), kAllDimmed) << "the second in a row";
  EXPECT_EQ(Lamps(), reading) << "the same icons, greyed";
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "2");
  EXPECT_TRUE(Boxes().empty());

  Console("fault none");
  Window().Tick();
  EXPECT_EQ(Dimmed(), kUndimmed) << "a good poll";
  EXPECT_EQ(Lamps(), reading);

  Console("fault silent");
  Window().Tick();
  Window().Tick();
  ASSERT_EQ(Dimmed(), kAllDimmed);
  Window().Click(IDC_ACQUIRE_BUTTON);
  EXPECT_EQ(Lamps(), (std::array<int, 3>{kOff, kOff, kOff}));
  EXPECT_EQ(Dimmed(), kUndimmed) << "stopped: black, not greyed";
  StartAcquisition();
  EXPECT_EQ(Dimmed(), kUndimmed);
}

// A lamp turning red asks for the user's attention, once: a leak starting, an alarm type
// appearing, each again after it went; a reading that stays, or a lamp turning green, does not.
TEST_F(AcquisitionTest, ALampTurningRedAsksForAttention) {
  Start();
  StartAcquisition();
  const auto tickAndCount = [&](const char* change) {
    if (change[0] != '\0') Console(change);
    Window().Tick();
    return Window().AttentionRequests();
  };
  EXPECT_EQ(tickAndCount(""), 0) << "green lamps";
  EXPECT_EQ(tickAndCount("leak 1"), 1) << "a leak starts";
  EXPECT_EQ(tickAndCount(""), 1) << "and goes on";
  EXPECT_EQ(tickAndCount("alarm 2"), 2) << "an alarm type appears";
  EXPECT_EQ(tickAndCount("alarm 3"), 3) << "another one";
  EXPECT_EQ(tickAndCount("alarm 9"), 3) << "a value that means nothing leaves the lamps";
  EXPECT_EQ(tickAndCount("alarm 0"), 3);
  EXPECT_EQ(tickAndCount("leak 0"), 3);
  EXPECT_EQ(tickAndCount("leak 1"), 4) << "a leak again";
  Window().Click(IDC_ACQUIRE_BUTTON);
  StartAcquisition();
  EXPECT_EQ(tickAndCount(""), 5) << "after a stop the lamps were black: red again is new";
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);
}

TEST_F(AcquisitionTest, StopTurnsTheLampsOffAndKeepsTheCounters) {
  Start();
  StartAcquisition();
  Console("alarm 3");
  Window().Tick();
  Window().Tick();
  Window().Click(IDC_ACQUIRE_BUTTON);
  EXPECT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStartAcquisition);
  EXPECT_FALSE(Window().TimerRunning());
  EXPECT_TRUE(PortIsFree());
  EXPECT_EQ(Lamps(), (std::array<int, 3>{kOff, kOff, kOff}));
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kNoAlarm);
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "2");
  EXPECT_EQ(g_pollSuccessCount, 2u);

  // A busy port at the next start: reported, and nothing else changes.
  const CommHandle holder = OpenCommPort(1, 9600);
  Window().Click(IDC_ACQUIRE_BUTTON);
  CloseCommPort(holder);
  EXPECT_EQ(Boxes(), std::vector<std::string>{std::string(text::kAcquisitionPortTrouble)});
  EXPECT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStartAcquisition);
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "2");
  EXPECT_TRUE(Window().IsEnabled(IDC_READ_VERSION));
}

TEST_F(AcquisitionTest, PeriodsTheTimerCannotKeepRunAtItsShortest) {
  Start();
  for (const char* period : {"0", "-5", "abc", "3", ""}) {
    Window().Type(IDC_PERIOD_EDIT, period);
    StartAcquisition();
    EXPECT_EQ(Window().TimerPeriod(), 10u) << period;
    Window().Click(IDC_ACQUIRE_BUTTON);
  }
  Window().Type(IDC_PERIOD_EDIT, " 250ms");
  StartAcquisition();
  EXPECT_EQ(Window().TimerPeriod(), 250u);
}

TEST_F(AcquisitionTest, NothingIsSentBeforeTheFirstTickAndTheCloseEndsIt) {
  PtyPair line;  // a silent detector whose line the test watches
  ports_.Link(3, line.PortPath());
  Start();
  Window().Select(IDC_PORT_COMBO, 2);
  StartAcquisition();
  EXPECT_TRUE(line.Receive(1, 200ms).empty());
  Window().Close();
  EXPECT_FALSE(Window().TimerRunning());
  const CommHandle reopened = OpenCommPort(3, 9600);
  EXPECT_TRUE(reopened) << "closing the window closed the port";
  CloseCommPort(reopened);
}

TEST_F(AcquisitionTest, FactoryModeReadsTheVoltageAfterEachGoodPoll) {
  detector.insert(detector.end(), {"--voltage", "124"});
  Start();
  EnterFactoryMode();
  StartAcquisition();
  const auto start = std::chrono::steady_clock::now();
  Window().Tick();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms) << "the pause before the voltage";
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), "：12.4V");
  Console("set 4 0");
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), "：0.0V");
  Console("fault silent");
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), text::kNoData);
  Window().Click(IDC_ACQUIRE_BUTTON);
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), text::kNoData) << "stop leaves the voltage alone";
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "2");
}

TEST_F(AcquisitionTest, FailedVoltageReadingIsShownAndNotCounted) {
  PtyPair line;  // a detector that answers the status but not the voltage
  ports_.Link(3, line.PortPath());
  Start();
  Window().Select(IDC_PORT_COMBO, 2);
  EnterFactoryMode();
  StartAcquisition();
  std::jthread detector([&] {
    line.Receive(8);
    line.Send(std::vector<std::uint8_t>{0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFA, 0x33});
  });
  Window().Tick();
  detector.join();
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), text::kVoltageReadError);
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "1");
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "0");
}

// The tooltips explain what the counters and lamps cannot: why polls failed, with the last
// failure's frames, and that the lamps still show an old reading.
TEST_F(AcquisitionTest, TooltipsTellWhyPollsFailedAndHowOldTheReadingIs) {
  Start();
  StartAcquisition();
  EXPECT_EQ(Window().ToolTip(IDC_FAILURE_COUNT), "");
  Window().Tick();
  const std::string reading = Window().ToolTip(IDC_LEAK_LAMP);
  EXPECT_EQ(reading.rfind("读数时间：", 0), 0u) << reading;
  EXPECT_EQ(reading.find('\n'), std::string::npos) << "nothing failed since";

  Console("fault silent");
  Window().Tick();
  Console("fault bad-crc");
  Window().Tick();
  Window().Tick();
  const std::string failures = Window().ToolTip(IDC_FAILURE_COUNT);
  EXPECT_NE(failures.find("开始采集以来轮询失败 3 次："), std::string::npos) << failures;
  EXPECT_NE(failures.find("\n无应答：1 次\nCRC 校验错误：2 次\n"), std::string::npos) << failures;
  EXPECT_NE(failures.find("：CRC 校验错误\n发送：01 03 00 00 00 02 C4 0B\n接收：01 03 04"),
            std::string::npos)
      << failures;
  for (int control : {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP, IDC_LEAK_TEXT}) {
    const std::string tip = Window().ToolTip(control);
    EXPECT_EQ(tip.rfind(reading + "\n此后连续 3 次轮询失败，已 ", 0), 0u) << tip;
  }
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kNormal) << "the window's own text is as it was";

  Window().Click(IDC_ACQUIRE_BUTTON);
  EXPECT_EQ(Window().ToolTip(IDC_LEAK_LAMP), "") << "the lamps are off: no reading shown";
  EXPECT_EQ(Window().ToolTip(IDC_FAILURE_COUNT), failures) << "kept with the counter";
  StartAcquisition();
  EXPECT_EQ(Window().ToolTip(IDC_FAILURE_COUNT), "") << "a new start counts afresh";
}

// A pulled adapter: the simulator ends (its terminal hangs up and its COM3 link goes), and a
// new one comes back under the same COM number.
TEST_F(AcquisitionTest, APulledAdapterIsLetGoAndTakenUpAgainWhenItComesBack) {
  auto adapter = std::make_unique<SimProcess>(std::vector<std::string>{"--com", "3"});
  ASSERT_FALSE(adapter->SlavePath().empty());
  Start();
  Window().Select(IDC_PORT_COMBO, 2);
  StartAcquisition();
  Window().Tick();
  ASSERT_EQ(Window().Text(IDC_SUCCESS_COUNT), "1");

  EXPECT_EQ(adapter->Stop(SIGTERM), 0);
  Window().Tick();
  Window().Tick();  // still gone: the open is tried again and fails
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "2");
  EXPECT_NE(Window().ToolTip(IDC_FAILURE_COUNT).find("串口已断开"), std::string::npos)
      << Window().ToolTip(IDC_FAILURE_COUNT);

  adapter = std::make_unique<SimProcess>(std::vector<std::string>{"--com", "3", "--leak", "1"});
  Window().Select(IDC_PORT_COMBO, 0);  // the current selection does not matter
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "2") << "polling goes on by itself";
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak) << "from the detector on COM3";
  EXPECT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);

  Window().Click(IDC_ACQUIRE_BUTTON);
  const CommHandle reopened = OpenCommPort(3, 9600);
  EXPECT_TRUE(reopened) << "the stop closed the port taken up again";
  CloseCommPort(reopened);
}

TEST_F(AcquisitionTest, CountersGoOnInDecimalPastTheRangeOfInt) {
  Start();
  StartAcquisition();
  g_pollSuccessCount = 2147483647;  // where a 32-bit count would overflow
  g_pollFailureCount = 2147483647;
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "2147483648");
  Console("fault silent");
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "2147483648");
}

}  // namespace
