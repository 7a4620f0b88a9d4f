// Factory mode: entered with the access code, it shows the voltage field and makes each
// good acquisition poll read the voltage; the same button leaves it without asking.
#include "res/resource.h"
#include "res/texts.h"
#include "ui/monitor_dialog.h"
#include "ui/password_dialog.h"

namespace {

void ShowVoltageFields(ui::Window& window, bool shown) {
  window.Show(IDC_VOLTAGE_LABEL, shown);
  window.Show(IDC_VOLTAGE_VALUE, shown);
}

}  // namespace

void PasswordDialog::OnOk(ui::Window& window) {
  password = window.Text(IDC_PASSWORD_EDIT);
}

void MonitorDialog::OnFactoryButton(ui::Window& window) {
  PasswordDialog dialog;
  if (window.Text(IDC_FACTORY_BUTTON) != text::kEnterFactoryMode) {
    g_factoryMode = 0;
    window.SetText(IDC_FACTORY_BUTTON, text::kEnterFactoryMode);
    ShowVoltageFields(window, false);
    return;
  }
  if (window.RunModal(IDD_PASSWORD, dialog) != ui::kIdOk) return;
  if (dialog.password == text::kAccessCode) {
    window.SetText(IDC_FACTORY_BUTTON, text::kLeaveFactoryMode);
    g_factoryMode = 1;
    ShowVoltageFields(window, true);
  } else {
    window.MessageBox(text::kWrongPassword);
    g_factoryMode = 0;
  }
}
