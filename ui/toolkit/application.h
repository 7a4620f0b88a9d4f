// What each front end (Qt, Win32) provides to start the program's one window.
#pragma once

#include "ui/toolkit/window.h"

namespace ui {

// Runs a dialog from its template as the program's main window: modal, centred on the
// screen, until it ends. Returns kIdOk or kIdCancel.
int RunMainDialog(int templateId, DialogHandler& handler);

}  // namespace ui
