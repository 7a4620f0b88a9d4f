// Placeholder until the search lands.
#include "ui/monitor_dialog.h"

void MonitorDialog::OnSearchButton(ui::Window&) {}
void MonitorDialog::OnSearchProgress(ui::Window&) {}
void MonitorDialog::OnSearchFound(ui::Window&) {}
void MonitorDialog::EndSearchWorker() {}
