// The program: one modal window; the process ends when it closes.
#include <QApplication>

#include "ui/monitor_app.h"
#include "ui/qt/qt_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  ui::UseProgramFont();
  MonitorApp().InitInstance();
  return 0;
}
