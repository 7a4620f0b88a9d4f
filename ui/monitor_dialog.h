// The main window: its initial state, the routing of buttons, ticks and messages to their
// handlers, and the two busy groups. The handlers are defined beside the subsystem they
// drive: device/configuration_commands.cpp, device/acquisition.cpp, search/search_control.cpp,
// ui/factory_mode.cpp.
#pragma once

#include <array>

#include "res/resource.h"
#include "search/search_pace.h"
#include "search/search_worker.h"
#include "ui/toolkit/window.h"

// 0 in user mode, 1 in factory mode; acquisition reads it at every good poll.
extern int g_factoryMode;

class MonitorDialog : public ui::DialogHandler {
 public:
  void OnInitDialog(ui::Window& window) override;
  void OnCommand(ui::Window& window, int controlId) override;
  void OnTimer(ui::Window& window) override;
  void OnMessage(ui::Window& window, int message) override;
  bool OnSysCommand(ui::Window& window, int command) override;
  void OnClose(ui::Window& window) override;

  // Configuration commands.
  void OnReadVersion(ui::Window& window);
  void OnReadSensitivity(ui::Window& window);
  void OnSetSensitivity(ui::Window& window);
  void OnSetAddress(ui::Window& window);
  void OnSetBaud(ui::Window& window);

  // Acquisition.
  void OnAcquireButton(ui::Window& window);

  // Parameter search.
  void OnSearchButton(ui::Window& window);
  void OnSearchProgress(ui::Window& window);
  void OnSearchFound(ui::Window& window);
  // A stopped worker may still be in its last probe, holding the port, with a report to
  // come. Every handler that opens the port calls this first: it serves that report while
  // waiting for the worker's end (at most one probe); without a worker it returns at once.
  void WaitForStoppedSearch(ui::Window& window);
  // Asks a running search worker to stop and waits until it has ended.
  void EndSearchWorker();

  // Factory mode.
  void OnFactoryButton(ui::Window& window);

 private:
  SearchThread searchThread_;
  SearchPace searchPace_;  // told in the search status line's tooltip
};

// The buttons disabled while a search runs, and those disabled while acquisition runs.
void EnableSearchBusyGroup(ui::Window& window, bool enabled);
void EnableAcquisitionBusyGroup(ui::Window& window, bool enabled);

// The search-rate check boxes, in the order 1200, 2400, 4800, 9600, 19200.
inline constexpr std::array<int, 5> kSearchRateBoxes = {
    IDC_SEARCH_1200, IDC_SEARCH_2400, IDC_SEARCH_4800, IDC_SEARCH_9600, IDC_SEARCH_19200};

// What the window's selections mean to the handlers.
int SelectedPortNumber(ui::Window& window);  // the port list's index plus one
int SelectedBaudRate(ui::Window& window);    // the baud list's entry, as a number
int SlaveAddress(ui::Window& window);        // the address field, read afresh each time
