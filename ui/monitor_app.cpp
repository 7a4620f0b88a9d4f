#include "ui/monitor_app.h"

#include "res/resource.h"
#include "ui/monitor_dialog.h"
#include "ui/toolkit/application.h"

bool MonitorApp::InitInstance() {
  MonitorDialog dialog;
  ui::RunMainDialog(IDD_MAIN, dialog);
  return false;
}
