// The window's call for attention as the window system gets it: the real main window on X
// (xcb under Xvfb, since the offscreen platform ignores alerts), behind another window, polls
// the simulated detector; when its leak lamp turns red, Qt's X window holds the urgency it
// asks the window manager for (_NET_WM_STATE_DEMANDS_ATTENTION), and not before.
#include <qpa/qplatformwindow.h>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

#include "res/resource.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/monitor_dialog.h"
#include "ui/qt/qt_window.h"

namespace {

bool DemandsAttention(QWidget& window) {
  const QWindow* handle = window.windowHandle();
  return handle && handle->handle() && handle->handle()->isAlertState();
}

TEST(QtWindowOnX, ALeakAsksTheWindowSystemForAttention) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  SimProcess sim({"--address", "1"});
  ASSERT_FALSE(sim.SlavePath().empty());
  TempPortsDir ports;
  ports.Link(1, sim.SlavePath());
  MonitorDialog dialog;
  ui::QtWindow window(*FindDialogTemplate(IDD_MAIN), dialog);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  // Qt asks only for a window that is not the active one: the technician is elsewhere.
  QLabel elsewhere("another program");
  elsewhere.show();
  elsewhere.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
  ASSERT_FALSE(window.isActiveWindow());

  window.SetText(IDC_PERIOD_EDIT, "100");
  QTest::mouseClick(window.ControlWidget(IDC_ACQUIRE_BUTTON), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.Text(IDC_SUCCESS_COUNT) == "3"; }, 5000));
  EXPECT_FALSE(DemandsAttention(window)) << "green lamps ask for nothing";
  ASSERT_TRUE(sim.Command("leak 1"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return DemandsAttention(window); }, 5000));
  QTest::mouseClick(window.ControlWidget(IDC_ACQUIRE_BUTTON), Qt::LeftButton);
}

}  // namespace

int main(int argc, char* argv[]) {
  testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication application(argc, argv);
  ui::UseProgramFont();
  return RUN_ALL_TESTS();
}
