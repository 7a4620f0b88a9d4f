// The achieved acquisition period: the real main window (Qt, offscreen) polls the simulated
// detector at the period typed into it; each tick's time is noted, and the mean period,
// the spread and the drift over the run are printed.
// Run: build/bench/kl395-poll-period-bench [polls] [period-ms]
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "res/resource.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/monitor_dialog.h"
#include "ui/qt/qt_window.h"

namespace {

using Clock = std::chrono::steady_clock;

// The main window's handler, noting when each poll starts.
class TimedDialog : public MonitorDialog {
 public:
  void OnTimer(ui::Window& window) override {
    ticks.push_back(Clock::now());
    MonitorDialog::OnTimer(window);
  }
  std::vector<Clock::time_point> ticks;
};

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const std::vector<Clock::time_point>& ticks, int period) {
  std::vector<double> gaps;
  for (std::size_t i = 1; i < ticks.size(); ++i) gaps.push_back(Ms(ticks[i] - ticks[i - 1]));
  const double mean = Ms(ticks.back() - ticks.front()) / static_cast<double>(gaps.size());
  const auto [shortest, longest] = std::minmax_element(gaps.begin(), gaps.end());
  // Drift: how far the last tick is from where the first tick and the set period put it.
  const double drift = Ms(ticks.back() - ticks.front()) - period * static_cast<double>(gaps.size());
  std::printf(
      "%zu polls at %d ms: mean period %.2f ms (%+.2f%%), shortest %.2f, longest %.2f, "
      "drift over the run %+.1f ms\n",
      ticks.size(), period, mean, 100.0 * (mean - period) / period, *shortest, *longest, drift);
}

}  // namespace

int main(int argc, char** argv) {
  const int polls = argc > 1 ? std::max(3, std::atoi(argv[1])) : 100;
  const int period = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ui::UseProgramFont();

  SimProcess sim({"--address", "1", "--baud", "9600"}, SimTiming::kLineTime);
  TempPortsDir ports;
  ports.Link(1, sim.SlavePath());
  TimedDialog dialog;
  ui::QtWindow window(*FindDialogTemplate(IDD_MAIN), dialog);
  window.show();
  window.SetText(IDC_PERIOD_EDIT, std::to_string(period));
  QTest::mouseClick(window.ControlWidget(IDC_ACQUIRE_BUTTON), Qt::LeftButton);
  const bool ran = QTest::qWaitFor([&] { return static_cast<int>(dialog.ticks.size()) >= polls; },
                                   (polls + 10) * (period + 1100));
  if (!ran || dialog.ticks.size() < 2) {
    std::fprintf(stderr, "acquisition did not run: %zu polls\n", dialog.ticks.size());
    return 1;
  }
  if (window.Text(IDC_FAILURE_COUNT) != "0") std::printf("(some polls failed)\n");
  Report(dialog.ticks, period);
  return 0;
}
