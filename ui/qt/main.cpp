// The program: one modal window; the process ends when it closes.
#include <QApplication>

#include "serial/standard_streams.h"
#include "ui/monitor_app.h"
#include "ui/qt/qt_window.h"

int main(int argc, char* argv[]) {
  ReserveStandardStreams();
  QApplication application(argc, argv);
  ui::UseProgramFont();
  MonitorApp().InitInstance();
  return 0;
}
