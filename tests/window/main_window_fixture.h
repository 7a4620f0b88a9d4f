// The main window on the fake toolkit, with COM1 linked to a simulated detector.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "serial/comm_port.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/fake/fake_window.h"
#include "ui/monitor_dialog.h"

class MainWindowTest : public ::testing::Test {
 protected:
  // The detector's start values; a test may replace them before calling Start().
  std::vector<std::string> detector = {"--address", "1", "--baud", "9600"};

  void SetUp() override { ports_.Link(2, "/dev/kl395-no-such-device"); }
  // Starts the simulated detector on COM1 and opens the window.
  void Start() {
    sim_ = std::make_unique<SimProcess>(detector);
    ASSERT_FALSE(sim_->SlavePath().empty());
    ports_.Link(1, sim_->SlavePath());
    window_ = std::make_unique<ui::FakeWindow>(IDD_MAIN, dialog_);
  }
  void Console(const std::string& line) { ASSERT_TRUE(sim_->Command(line)) << line; }
  ui::FakeWindow& Window() { return *window_; }
  const std::vector<std::string>& Boxes() { return window_->MessageBoxes(); }
  // Whether the detector's port is free, as another program would find it.
  bool PortIsFree() {
    const CommHandle probe = OpenCommPort(1, 9600);
    CloseCommPort(probe);
    return static_cast<bool>(probe);
  }

  TempPortsDir ports_;  // COM2 is linked to a device that does not exist
  std::unique_ptr<SimProcess> sim_;
  MonitorDialog dialog_;
  std::unique_ptr<ui::FakeWindow> window_;
};
