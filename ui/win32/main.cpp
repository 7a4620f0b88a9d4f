// The program: one modal window; the process ends when it closes. No command line is read.
#include "ui/monitor_app.h"
#include "ui/win32/windows_api.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MonitorApp().InitInstance();
  return 0;
}
