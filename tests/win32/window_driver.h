// Driving real windows from outside their thread, the way another program would: BM_CLICK on
// buttons, texts read with GetDlgItemTextW and WM_GETTEXT, keys and commands posted, and the
// dialogs a window opens found by their owner and answered.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "ui/monitor_dialog.h"
#include "ui/win32/windows_api.h"

using namespace std::chrono_literals;

// Polls `condition` every 10 ms until it holds or `timeout` has passed; its last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A dialog box: the class of dialogs and message boxes.
bool IsDialogBox(HWND window);
// A window's text (WM_GETTEXT, which also reaches other processes), as UTF-8.
std::string WindowText(HWND window);
// The text of a message box: its one static control with text.
std::string MessageBoxText(HWND box);
// The icon a message box shows, or null.
HICON MessageBoxIcon(HWND box);
// The shown dialog box of `threadId` that `owner` owns, or null; a null owner finds the
// thread's top-level dialog captioned `caption`.
HWND FindDialog(DWORD threadId, HWND owner, const std::wstring& caption = {});
// Clicks the dialog's OK button; whether the dialog is gone within 5 s.
bool CloseWithOk(HWND dialog);
// A key pressed while `control` has the keyboard's attention, for the dialog manager.
void PressKey(HWND control, WPARAM key);
// An icon of this program's resources, as the window loads it (shared, large).
HICON ProgramIcon(int iconId);

// The real main window: IDD_MAIN with the MonitorDialog, run by the Win32 front end on a
// thread of its own, as the program runs it.
class RunningMainWindow {
 public:
  // Starts it and waits until its window shows; fails the test if it does not.
  RunningMainWindow();
  // Ends it like the close box if it still runs. A window that then does not end would hang
  // the run, so the process ends with a message instead.
  ~RunningMainWindow();
  RunningMainWindow(const RunningMainWindow&) = delete;
  RunningMainWindow& operator=(const RunningMainWindow&) = delete;

  HWND Handle() const { return window_; }
  HWND Control(int controlId) const { return GetDlgItem(window_, controlId); }

  std::string Text(int controlId) const;
  void SetText(int controlId, const std::string& text) const;
  bool IsEnabled(int controlId) const { return IsWindowEnabled(Control(controlId)); }
  bool IsVisible(int controlId) const { return IsWindowVisible(Control(controlId)); }
  int Selection(int controlId) const;
  void Select(int controlId, int index) const;
  int EntryCount(int controlId) const;
  std::string EntryText(int controlId, int index) const;
  bool IsChecked(int controlId) const;
  HICON Icon(int controlId) const;

  // Clicks and returns once the window has handled the click. A click still unhandled
  // after 10 s (a box nobody answers) fails the test.
  void Click(int controlId) const;
  // Clicks without waiting: for a click whose handler opens a dialog.
  void PostClick(int controlId) const;
  // Gives a control the keyboard focus, as Tab would.
  void Focus(int controlId) const;

  // The next dialog the window opens, once it shows; null if none does in time.
  HWND WaitForDialog(std::chrono::milliseconds timeout = 10s) const;
  // Answers the next message box with OK and returns its text; empty if none came.
  std::string AnswerMessageBox(std::chrono::milliseconds timeout = 10s) const;

  bool WaitForEnd(std::chrono::milliseconds timeout) const;
  bool Ended() const { return ended_; }
  int Result() const { return result_; }

 private:
  MonitorDialog dialog_;
  std::atomic<DWORD> threadId_ = 0;
  std::atomic<bool> ended_ = false;
  std::atomic<int> result_ = 0;
  HWND window_ = nullptr;
  std::thread thread_;
};
