// Resident memory over a long acquisition: the real main window (Qt, offscreen) polls the
// simulated detector at the shortest period, and before every poll the detector's leak and
// alarm change, so each good poll sets all three lamps to a new icon. Memory is measured once
// the first polls have filled the window's caches, and again at the end.
// Run: build/bench/kl395-lamp-memory-bench [polls]
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "res/resource.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/monitor_dialog.h"
#include "ui/qt/qt_window.h"

namespace {

constexpr int kWarmUpPolls = 100;

// Resident memory in kB, from /proc/self/status; 0 when it cannot be read.
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// The main window's handler, turning the detector to its next state before each poll and
// noting the resident memory when the warm-up ends.
class ChangingLampsDialog : public MonitorDialog {
 public:
  explicit ChangingLampsDialog(SimProcess& sim) : sim_(sim) {}

  void OnTimer(ui::Window& window) override {
    // Leak on odd polls; the alarm type runs through none, optical, probe and both.
    sim_.Command("leak " + std::to_string(polls % 2));
    sim_.Command("alarm " + std::to_string(polls % 4));
    MonitorDialog::OnTimer(window);
    if (++polls == kWarmUpPolls) startKb = ResidentKb();
  }

  int polls = 0;
  long startKb = 0;

 private:
  SimProcess& sim_;
};

}  // namespace

int main(int argc, char** argv) {
  const int polls = argc > 1 ? std::max(kWarmUpPolls + 1, std::atoi(argv[1])) : 10'000;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ui::UseProgramFont();

  SimProcess sim({"--address", "1", "--baud", "19200"}, SimTiming::kLineTime);
  TempPortsDir ports;
  ports.Link(1, sim.SlavePath());
  ChangingLampsDialog dialog(sim);
  ui::QtWindow window(*FindDialogTemplate(IDD_MAIN), dialog);
  window.show();
  window.Select(IDC_BAUD_COMBO, 4);  // 19200, the quickest polls
  window.SetText(IDC_PERIOD_EDIT, "10");
  QTest::mouseClick(window.ControlWidget(IDC_ACQUIRE_BUTTON), Qt::LeftButton);
  const bool ran = QTest::qWaitFor([&] { return dialog.polls >= polls; }, polls * 1000);
  const long endKb = ResidentKb();
  if (!ran) {
    std::fprintf(stderr, "acquisition did not run: %d polls\n", dialog.polls);
    return 1;
  }
  if (window.Text(IDC_FAILURE_COUNT) != "0") {
    std::printf("(%s polls failed)\n", window.Text(IDC_FAILURE_COUNT).c_str());
  }
  std::printf(
      "%d polls with changing lamps: resident %ld kB after %d polls, %ld kB at the end, "
      "%+ld kB (%+.1f bytes a poll)\n",
      dialog.polls, dialog.startKb, kWarmUpPolls, endKb, endKb - dialog.startKb,
      1024.0 * static_cast<double>(endKb - dialog.startKb) / (dialog.polls - kWarmUpPolls));
  return 0;
}
