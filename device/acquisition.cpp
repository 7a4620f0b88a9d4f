// Periodic acquisition: timer 1 polls the leak state and alarm type onto the lamps and
// counts good and failed polls; in factory mode each good poll also reads the voltage.
#include "device/acquisition.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "device/detector.h"
#include "device/held_port.h"
#include "device/poll_record.h"
#include "res/resource.h"
#include "res/texts.h"
#include "serial/comm_port.h"
#include "ui/monitor_dialog.h"
#include "ui/number_text.h"

std::uint64_t g_pollSuccessCount = 0;
std::uint64_t g_pollFailureCount = 0;

namespace {

// The shortest period the Windows timer keeps; shorter, zero, negative or non-numeric
// periods run at it rather than flooding the line or stalling the timer.
constexpr int kMinimumPeriodMs = 10;
constexpr int kReadingShownBy[] = {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP, IDC_LEAK_TEXT};
constexpr int kLamps[] = {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP};

HeldPort& Held() {
  static HeldPort port;
  return port;
}

PollRecord& Record() {
  static PollRecord record;
  return record;
}

// The lamps lit red, by what the detector reported.
struct RedLamps {
  bool leak = false;
  bool optical = false;
  bool probe = false;

  // Whether `next` lights one that is not lit now: a leak starts, an alarm type appears.
  bool LitAnew(const RedLamps& next) const {
    return (next.leak && !leak) || (next.optical && !optical) || (next.probe && !probe);
  }
};

RedLamps& LitRed() {
  static RedLamps lamps;
  return lamps;
}

// Bit 0 lights the optical lamp, bit 1 the probe lamp; values above 3 mean nothing to us
// and leave both lamps as they were.
RedLamps RedLampsFor(const DetectorStatus& status, const RedLamps& before) {
  RedLamps lamps = before;
  lamps.leak = status.leak;
  if (status.alarmType <= 3) {
    lamps.optical = (status.alarmType & 1) != 0;
    lamps.probe = (status.alarmType & 2) != 0;
  }
  return lamps;
}

void ShowReadingTips(ui::Window& window) {
  const std::string tip = Record().ReadingTip();
  for (int control : kReadingShownBy) window.SetToolTip(control, tip);
}

void DimLamps(ui::Window& window, bool dimmed) {
  for (int lamp : kLamps) window.SetIconDimmed(lamp, dimmed);
}

void ShowCount(ui::Window& window, int controlId, std::uint64_t count) {
  window.SetText(controlId, std::to_string(count));
}

void StartAcquisition(ui::Window& window) {
  Held().Open(ResolveCommPort(SelectedPortNumber(window)), SelectedBaudRate(window));
  g_commHandle = Held().handle();
  if (!g_commHandle) {
    window.MessageBox(text::kAcquisitionPortTrouble);
    return;
  }
  g_pollSuccessCount = 0;
  g_pollFailureCount = 0;
  Record().Restart();
  window.SetToolTip(IDC_FAILURE_COUNT, {});
  EnableAcquisitionBusyGroup(window, false);
  ShowCount(window, IDC_SUCCESS_COUNT, 0);
  ShowCount(window, IDC_FAILURE_COUNT, 0);
  window.SetText(IDC_ACQUIRE_BUTTON, text::kStopAcquisition);
  const int period = TextToInt(window.Text(IDC_PERIOD_EDIT));
  window.SetTimer(static_cast<unsigned>(std::max(period, kMinimumPeriodMs)));
}

void StopAcquisition(ui::Window& window) {
  window.KillTimer();
  EnableAcquisitionBusyGroup(window, true);
  window.SetText(IDC_ACQUIRE_BUTTON, text::kStartAcquisition);
  Held().Close();
  window.SetIcon(IDC_OPTICAL_LAMP, IDI_LAMP_OFF);
  window.SetIcon(IDC_PROBE_LAMP, IDI_LAMP_OFF);
  window.SetIcon(IDC_LEAK_LAMP, IDI_LAMP_OFF);
  DimLamps(window, false);
  LitRed() = {};
  window.SetText(IDC_LEAK_TEXT, text::kNoAlarm);
  for (int control : kReadingShownBy) window.SetToolTip(control, {});  // no reading shown
}

int LampIcon(bool red) {
  return red ? IDI_LAMP_RED : IDI_LAMP_GREEN;
}

// A lamp turning red asks for attention, so that a leak is noticed behind other windows.
void ShowReading(ui::Window& window, const DetectorStatus& status) {
  const RedLamps lamps = RedLampsFor(status, LitRed());
  window.SetIcon(IDC_LEAK_LAMP, LampIcon(lamps.leak));
  window.SetText(IDC_LEAK_TEXT, lamps.leak ? text::kLeak : text::kNormal);
  if (status.alarmType <= 3) {
    window.SetIcon(IDC_OPTICAL_LAMP, LampIcon(lamps.optical));
    window.SetIcon(IDC_PROBE_LAMP, LampIcon(lamps.probe));
  }
  if (LitRed().LitAnew(lamps)) window.RequestAttention();
  LitRed() = lamps;
}

void ShowVoltage(ui::Window& window, int address) {
  std::this_thread::sleep_for(kPauseBeforeVoltage);
  const auto volts = ReadVoltage(g_commHandle, address);
  if (!volts) {
    window.SetText(IDC_VOLTAGE_VALUE, text::kVoltageReadError);
    return;
  }
  window.SetText(IDC_VOLTAGE_VALUE,
                 FormatOneDecimal(text::kVoltageFormat, static_cast<double>(*volts)));
}

}  // namespace

void MonitorDialog::OnAcquireButton(ui::Window& window) {
  if (window.Text(IDC_ACQUIRE_BUTTON) == text::kStartAcquisition) {
    WaitForStoppedSearch(window);  // until it has ended, the port is a stopped worker's
    StartAcquisition(window);
  } else {
    StopAcquisition(window);
  }
}

void MonitorDialog::OnTimer(ui::Window& window) {
  const int address = SlaveAddress(window);
  // The polls keep the port and rate of the start; after the line went, each one tries to
  // open them again.
  const CommHandle port = Held().ForPoll();
  if (port) g_commHandle = port;
  const auto status =
      port ? ReadStatus(g_commHandle, address) : Exchanged<DetectorStatus>{{}, Held().WhyNotOpen()};
  const auto now = PollRecord::Clock::now();
  if (!status) {
    ShowCount(window, IDC_FAILURE_COUNT, ++g_pollFailureCount);
    window.SetText(IDC_VOLTAGE_VALUE, text::kNoData);
    Record().Failed(status.outcome, now);
    Held().CheckLine();
    window.SetToolTip(IDC_FAILURE_COUNT, Record().FailureTip());
    ShowReadingTips(window);
    if (Record().FailedInARow() >= kFailedPollsBeforeStale) DimLamps(window, true);
    return;
  }
  ShowCount(window, IDC_SUCCESS_COUNT, ++g_pollSuccessCount);
  Record().Good(now);
  ShowReadingTips(window);
  ShowReading(window, *status);
  DimLamps(window, false);
  if (g_factoryMode == 1) ShowVoltage(window, address);
}
