#include "ui/toolkit/application.h"

#include "ui/win32/win32_window.h"

namespace ui {

int RunMainDialog(int templateId, DialogHandler& handler) {
  return Win32Window::Run(templateId, handler, nullptr);
}

}  // namespace ui
