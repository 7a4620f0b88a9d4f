#include "ui/toolkit/application.h"

#include "ui/qt/qt_window.h"
#include "ui/qt/stop_signals.h"

namespace ui {

int RunMainDialog(int templateId, DialogHandler& handler) {
  const DialogTemplate* dialog = FindDialogTemplate(templateId);
  if (!dialog) return kIdCancel;
  QtWindow window(*dialog, handler);
  const CloseOnStopSignals stops(window);
  return window.exec();
}

}  // namespace ui
