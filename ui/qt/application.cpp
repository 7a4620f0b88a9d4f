#include "ui/toolkit/application.h"

#include "ui/qt/qt_window.h"

namespace ui {

int RunMainDialog(int templateId, DialogHandler& handler) {
  const DialogTemplate* dialog = FindDialogTemplate(templateId);
  if (!dialog) return kIdCancel;
  QtWindow window(*dialog, handler);
  return window.exec();
}

}  // namespace ui
