// The window-toolkit layer: the few operations the window code needs from a dialog window.
// The window code (MonitorDialog and the small dialogs) is written once against this
// interface; the Qt, Win32 and fake implementations each live in a folder of their own.
// Controls are named by their template identifiers; texts are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ui {

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

class Window;

// What a dialog's own code implements. Every call arrives on the window's thread.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;

  // The controls exist with their template contents; the window is not yet shown.
  virtual void OnInitDialog(Window& window) = 0;
  // A push button or check box was clicked (only enabled controls send commands).
  virtual void OnCommand(Window& window, int controlId) = 0;
  // The OK button (identifier 1) ends the dialog; this runs first, while the fields can
  // still be read.
  virtual void OnOk(Window&) {}
  // A tick of timer 1.
  virtual void OnTimer(Window&) {}
  // A message sent with Window::Send from another thread.
  virtual void OnMessage(Window&, int /*message*/) {}
  // A command of the window's system menu. Returns false to leave it to the toolkit's
  // default processing (minimise, move, close ...).
  virtual bool OnSysCommand(Window&, int /*command*/) { return false; }
  // The dialog is ending (OK, Esc, the close box): the last chance to stop timers, threads
  // and ports. Window::Send and Window::MessageBox from other threads return at once from
  // here on, so a thread that is joined here cannot wait on the window.
  virtual void OnClose(Window&) {}
};

class Window {
 public:
  virtual ~Window() = default;

  virtual std::string Text(int controlId) = 0;
  virtual void SetText(int controlId, std::string_view text) = 0;
  virtual void Enable(int controlId, bool enabled) = 0;
  virtual void Show(int controlId, bool shown) = 0;

  // Drop-down lists: the selected index or -1; selecting an index outside the list leaves
  // no entry selected.
  virtual int Selection(int controlId) = 0;
  virtual void Select(int controlId, int index) = 0;
  virtual std::string EntryText(int controlId, int index) = 0;

  // Check boxes: 1 ticked, 0 clear.
  virtual int CheckState(int controlId) = 0;
  virtual void SetCheckState(int controlId, int state) = 0;

  // The explanation shown when the pointer rests on a control; empty for none. Plain text,
  // lines separated by '\n'.
  virtual void SetToolTip(int controlId, std::string_view text) = 0;

  // Replaces the picture of an icon control with a resource icon.
  virtual void SetIcon(int controlId, int iconId) = 0;
  // Shows an icon control's picture greyed, as a lamp whose reading has gone stale, or as it
  // is. The control keeps its icon: one set while it is dimmed shows greyed too.
  virtual void SetIconDimmed(int controlId, bool dimmed) = 0;
  // The window's own (caption and task-bar) icon.
  virtual void SetWindowIcon(int iconId) = 0;

  // Asks for the user's attention without changing anything shown: the window manager's
  // urgency (a flashing task-bar entry) and the system's alert sound.
  virtual void RequestAttention() = 0;

  // A string of the program's string table; empty when there is none.
  virtual std::string LoadString(int stringId) = 0;

  // A modal box with one OK button and the warning icon, captioned with the program's name.
  // Returns when dismissed. May be called from any thread.
  virtual void MessageBox(std::string_view text) = 0;

  // Timer 1: ticks arrive through DialogHandler::OnTimer, at most one pending at a time.
  virtual void SetTimer(unsigned periodMs) = 0;
  virtual void KillTimer() = 0;

  // From another thread: runs DialogHandler::OnMessage on the window's thread and returns
  // after it has returned. Returns false without running it once the window is closing.
  virtual bool Send(int message) = 0;

  // On the window's thread: returns once `done` holds, meanwhile running what other threads
  // hand the window with Send and MessageBox (the user's input waits). For waiting on a
  // thread that may itself be waiting on the window.
  virtual void WaitServing(const std::function<bool()>& done) = 0;

  // Appends a separator and an item to the system menu (on platforms without one, to the
  // window's context menu).
  virtual void AppendSystemMenuItem(int command, std::string_view text) = 0;

  // Runs a dialog from its template modally, owned by and centred over this window.
  // Returns kIdOk when it ended through its OK button, kIdCancel otherwise.
  virtual int RunModal(int templateId, DialogHandler& handler) = 0;
};

}  // namespace ui
