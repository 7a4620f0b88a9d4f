#include "ui/monitor_dialog.h"

#include <array>

#include "res/resource.h"
#include "res/texts.h"
#include "search/search_messages.h"
#include "serial/comm_port.h"
#include "ui/about_dialog.h"
#include "ui/number_text.h"

int g_factoryMode = 0;

namespace {

constexpr int kPortCom1 = 0;
constexpr int kBaud9600 = 3;

constexpr std::array<int, 7> kSearchBusyGroup = {
    IDC_ACQUIRE_BUTTON, IDC_READ_SENSITIVITY, IDC_READ_VERSION,  IDC_SET_ADDRESS,
    IDC_SET_BAUD,       IDC_SET_SENSITIVITY,  IDC_FACTORY_BUTTON};
constexpr std::array<int, 7> kAcquisitionBusyGroup = {
    IDC_READ_SENSITIVITY, IDC_READ_VERSION,   IDC_SET_ADDRESS,  IDC_SET_BAUD,
    IDC_SET_SENSITIVITY,  IDC_FACTORY_BUTTON, IDC_SEARCH_BUTTON};

void EnableGroup(ui::Window& window, std::span<const int> group, bool enabled) {
  for (int id : group) window.Enable(id, enabled);
}

void AddAboutItem(ui::Window& window) {
  const std::string about = window.LoadString(IDS_ABOUTBOX);
  if (!about.empty()) window.AppendSystemMenuItem(IDM_ABOUTBOX, about);
}

}  // namespace

void EnableSearchBusyGroup(ui::Window& window, bool enabled) {
  EnableGroup(window, kSearchBusyGroup, enabled);
}

void EnableAcquisitionBusyGroup(ui::Window& window, bool enabled) {
  EnableGroup(window, kAcquisitionBusyGroup, enabled);
}

int SelectedPortNumber(ui::Window& window) {
  return window.Selection(IDC_PORT_COMBO) + 1;
}

int SelectedBaudRate(ui::Window& window) {
  return TextToInt(window.EntryText(IDC_BAUD_COMBO, window.Selection(IDC_BAUD_COMBO)));
}

int SlaveAddress(ui::Window& window) {
  return TextToInt(window.Text(IDC_ADDRESS_EDIT));
}

void MonitorDialog::OnInitDialog(ui::Window& window) {
  AddAboutItem(window);
  window.SetWindowIcon(IDR_MAINFRAME);
  for (int box : kSearchRateBoxes) window.SetCheckState(box, 1);
  window.Select(IDC_PORT_COMBO, kPortCom1);
  window.Select(IDC_BAUD_COMBO, kBaud9600);
  window.SetText(IDC_ADDRESS_EDIT, "1");
  window.SetText(IDC_PERIOD_EDIT, "500");
  g_factoryMode = 0;
}

void MonitorDialog::OnCommand(ui::Window& window, int controlId) {
  switch (controlId) {
    case IDC_SEARCH_BUTTON:
      return OnSearchButton(window);
    case IDC_SET_ADDRESS:
      return OnSetAddress(window);
    case IDC_SET_BAUD:
      return OnSetBaud(window);
    case IDC_ACQUIRE_BUTTON:
      return OnAcquireButton(window);
    case IDC_READ_VERSION:
      return OnReadVersion(window);
    case IDC_READ_SENSITIVITY:
      return OnReadSensitivity(window);
    case IDC_SET_SENSITIVITY:
      return OnSetSensitivity(window);
    case IDC_FACTORY_BUTTON:
      return OnFactoryButton(window);
    default:
      return;
  }
}

void MonitorDialog::OnMessage(ui::Window& window, int message) {
  if (message == WM_SEARCH_PROGRESS) OnSearchProgress(window);
  if (message == WM_SEARCH_FOUND) OnSearchFound(window);
}

bool MonitorDialog::OnSysCommand(ui::Window& window, int command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;
  AboutDialog about;
  window.RunModal(IDD_ABOUTBOX, about);
  return true;
}

void MonitorDialog::OnClose(ui::Window& window) {
  // The worker must not outlive the globals it writes; the window no longer serves its
  // messages, so it ends within one probe.
  EndSearchWorker();
  // Acquisition holds the port and the timer; the window's end ends both.
  if (window.Text(IDC_ACQUIRE_BUTTON) == text::kStopAcquisition) {
    window.KillTimer();
    CloseCommPort(g_commHandle);
  }
}
