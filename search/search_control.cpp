// The window's side of the search: the search button starts and stops the worker, and its
// two reports become the status line, message boxes and, on success, the address and baud
// selections. The button's caption is the search state: kStartSearch while idle.
#include <string>

#include "device/detector.h"
#include "res/resource.h"
#include "res/texts.h"
#include "search/search_tip.h"
#include "search/search_worker.h"
#include "ui/monitor_dialog.h"
#include "ui/number_text.h"

namespace {

SearchWindow ReportsTo(ui::Window& window) {
  return {[&window](int message) { return window.Send(message); },
          [&window](std::string_view text) { window.MessageBox(text); }};
}

void ShowIdle(ui::Window& window) {
  window.SetText(IDC_SEARCH_BUTTON, text::kStartSearch);
  EnableSearchBusyGroup(window, true);
  window.SetToolTip(IDC_SEARCH_RESULT, {});
}

void TakeSearchSettings(ui::Window& window) {
  for (std::size_t rate = 0; rate < kSearchRateBoxes.size(); ++rate) {
    g_searchRateEnabled[rate] = window.CheckState(kSearchRateBoxes[rate]);
  }
  g_searchPortNumber = SelectedPortNumber(window);
}

}  // namespace

void MonitorDialog::OnSearchButton(ui::Window& window) {
  if (window.Text(IDC_SEARCH_BUTTON) != text::kStartSearch) {
    // The window is idle at once; the worker ends at its check before the next probe.
    ShowIdle(window);
    g_searchActive = 0;
    return;
  }
  // Only one worker ever runs, and the new one starts with its own stop flag.
  WaitForStoppedSearch(window);
  EnableSearchBusyGroup(window, false);
  TakeSearchSettings(window);
  g_searchActive = 1;
  g_searchError.clear();
  window.SetText(IDC_SEARCH_BUTTON, text::kStopSearch);
  ResolvedPort port = ResolveCommPort(g_searchPortNumber);
  g_searchRateEnabled = RatesTheLineRuns(port, g_searchRateEnabled);
  searchPace_.Start(g_searchRateEnabled, SearchPace::Clock::now());
  searchThread_.Start(ReportsTo(window), OpenResolvedDevice(std::move(port)));
}

void MonitorDialog::OnSearchProgress(ui::Window& window) {
  if (g_searchStatus == text::kSearching) {
    window.SetText(IDC_SEARCH_RESULT,
                   FormatText(text::kSearchProgressFormat, g_searchBaud, g_searchAddress));
  }
  if (window.Text(IDC_SEARCH_BUTTON) == text::kStartSearch) {
    window.SetText(IDC_SEARCH_RESULT, text::kSearchStopped);
  }
  if (g_searchError == text::kSearchExhausted) {
    window.MessageBox(g_searchError);
    window.SetText(IDC_SEARCH_RESULT, text::kNoParametersFound);
    ShowIdle(window);
  }
  // A probe's report while the search runs: our tooltip tells how far it has come.
  if (window.Text(IDC_SEARCH_BUTTON) == text::kStopSearch) {
    searchPace_.Probed(g_searchBaud, SearchPace::Clock::now());
    window.SetToolTip(IDC_SEARCH_RESULT, SearchPaceTip(searchPace_));
  }
}

void MonitorDialog::OnSearchFound(ui::Window& window) {
  window.SetText(IDC_SEARCH_RESULT,
                 FormatText(text::kFoundStatusFormat, g_searchBaud, g_foundAddress));
  window.MessageBox(FormatText(text::kFoundMessageFormat, g_searchBaud, g_foundAddress));
  window.SetText(IDC_ADDRESS_EDIT, std::to_string(g_foundAddress));
  window.Select(IDC_BAUD_COMBO, BaudCode(g_searchBaud));
  ShowIdle(window);
}

void MonitorDialog::WaitForStoppedSearch(ui::Window& window) {
  window.WaitServing([this] { return !searchThread_.Running(); });
}

void MonitorDialog::EndSearchWorker() {
  searchThread_.Stop();
}
