// The program's window as kl395's main() runs it, offscreen, with acquisition started from its
// first moment (COM1, 9600 baud, address 1, a poll every 100 ms): for the tests that signal a
// running window from outside.
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "res/resource.h"
#include "serial/standard_streams.h"
#include "ui/monitor_app.h"
#include "ui/qt/qt_window.h"

int main(int argc, char* argv[]) {
  ReserveStandardStreams();
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ui::UseProgramFont();
  // Runs once the window's loop does, with the window shown.
  QTimer::singleShot(0, [] {
    auto* window = dynamic_cast<ui::QtWindow*>(QApplication::activeModalWidget());
    if (!window) return;
    window->SetText(IDC_PERIOD_EDIT, "100");
    qobject_cast<QPushButton*>(window->ControlWidget(IDC_ACQUIRE_BUTTON))->click();
  });
  MonitorApp().InitInstance();
  return 0;
}
