// The five one-shot commands of the main window. Each opens the port with the window's
// selections, makes one exchange, reports, and closes the port after the report has been
// dismissed.
#include <string>

#include "device/detector.h"
#include "res/resource.h"
#include "res/texts.h"
#include "serial/comm_port.h"
#include "ui/monitor_dialog.h"
#include "ui/number_text.h"

namespace {

// Opens the port into g_commHandle, runs `command` with the slave address, and closes the
// port again; reports a port that cannot be opened instead. A stopped search's worker is
// waited for first: until it has ended, the port is still its own.
template <typename Command>
void WithOpenPort(MonitorDialog& dialog, ui::Window& window, Command command) {
  dialog.WaitForStoppedSearch(window);
  g_commHandle = OpenCommPort(SelectedPortNumber(window), SelectedBaudRate(window));
  if (!g_commHandle) {
    window.MessageBox(text::kCommandPortTrouble);
    return;
  }
  command(SlaveAddress(window));
  CloseCommPort(g_commHandle);
}

void ReportWrite(ui::Window& window, bool written) {
  window.MessageBox(written ? text::kSetDone : text::kSetFailed);
}

}  // namespace

void MonitorDialog::OnReadVersion(ui::Window& window) {
  WithOpenPort(*this, window, [&](int address) {
    const auto version = ReadVersion(g_commHandle, address);
    if (!version) {
      window.MessageBox(text::kReadFailed);
      return;
    }
    window.SetText(IDC_VERSION_TEXT, FormatOneDecimal(text::kVersionFormat, *version));
  });
}

void MonitorDialog::OnReadSensitivity(ui::Window& window) {
  WithOpenPort(*this, window, [&](int address) {
    const auto value = ReadSensitivity(g_commHandle, address);
    if (!value) {
      window.MessageBox(text::kReadFailed);
      return;
    }
    // 1 selects high, 2 medium, 3 low; any other value leaves the list empty.
    window.Select(IDC_SENSITIVITY_COMBO, int{*value} - 1);
  });
}

void MonitorDialog::OnSetSensitivity(ui::Window& window) {
  WithOpenPort(*this, window, [&](int address) {
    const int level = window.Selection(IDC_SENSITIVITY_COMBO);
    // With no level chosen there is nothing to set: 0 is no sensitivity the detector knows.
    ReportWrite(window, level >= 0 && WriteSensitivity(g_commHandle, address, level + 1));
  });
}

void MonitorDialog::OnSetAddress(ui::Window& window) {
  WithOpenPort(*this, window, [&](int address) {
    const int newAddress = TextToInt(window.Text(IDC_NEW_ADDRESS_EDIT));
    if (newAddress < 0 || newAddress > 255 || window.Text(IDC_ADDRESS_EDIT).empty()) {
      window.MessageBox(text::kBadNewAddress);
      return;
    }
    if (!WriteAddress(g_commHandle, address, newAddress)) {
      window.MessageBox(text::kSetFailed);
      return;
    }
    window.MessageBox(text::kAddressSet);
    window.SetText(IDC_ADDRESS_EDIT, std::to_string(newAddress));
  });
}

void MonitorDialog::OnSetBaud(ui::Window& window) {
  WithOpenPort(*this, window, [&](int address) {
    const int code = window.Selection(IDC_NEW_BAUD_COMBO);
    // With no rate chosen there is nothing to set: code 0xFF would leave the detector on a
    // rate no scan can find.
    if (code < 0 || !WriteBaudCode(g_commHandle, address, code)) {
      window.MessageBox(text::kSetFailed);
      return;
    }
    window.MessageBox(text::kSetDone);
    window.Select(IDC_BAUD_COMBO, code);
  });
}
