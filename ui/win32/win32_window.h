// The Win32 implementation of ui::Window: a dialog box run from its template in the program's
// resources, its lists filled from the template's list data, every message the window code
// cares about routed from the dialog procedure to the handler. The dialog manager itself
// gives the keyboard behaviour: Tab order, Esc as cancel, Enter to the default button.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "ui/port_list_tip.h"
#include "ui/toolkit/window.h"
#include "ui/win32/windows_api.h"

namespace ui {

class Win32Window final : public Window {
 public:
  // Runs the dialog `templateId` modally until it ends: without an owner centred on the
  // screen, with one owned by it and centred over it. Returns kIdOk or kIdCancel.
  static int Run(int templateId, DialogHandler& handler, HWND owner);

  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  std::string Text(int controlId) override;
  void SetText(int controlId, std::string_view text) override;
  void Enable(int controlId, bool enabled) override;
  void Show(int controlId, bool shown) override;
  int Selection(int controlId) override;
  void Select(int controlId, int index) override;
  std::string EntryText(int controlId, int index) override;
  int CheckState(int controlId) override;
  void SetCheckState(int controlId, int state) override;
  void SetToolTip(int controlId, std::string_view text) override;
  void SetIcon(int controlId, int iconId) override;
  void SetIconDimmed(int controlId, bool dimmed) override;
  void RequestAttention() override;
  void SetWindowIcon(int iconId) override;
  std::string LoadString(int stringId) override;
  void MessageBox(std::string_view text) override;
  void SetTimer(unsigned periodMs) override;
  void KillTimer() override;
  bool Send(int message) override;
  void WaitServing(const std::function<bool()>& done) override;
  void AppendSystemMenuItem(int command, std::string_view text) override;
  int RunModal(int templateId, DialogHandler& handler) override;

 private:
  Win32Window(int templateId, DialogHandler& handler, HWND owner);

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnInitDialog(HWND dialog);
  INT_PTR OnDialogMessage(UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnCommandMessage(int controlId, int notification, HWND control);
  INT_PTR OnNotifyMessage(NMHDR& header);
  void PaintMinimised();
  // Sets the result a sent message returns to its sender.
  INT_PTR Reply(LRESULT result);

  HWND Control(int controlId) const;
  void FillLists();
  HWND ToolTips();
  void AddPortListTool();
  // A message to the tooltip control about the tool of `control`, with its text.
  LRESULT SendToolMessage(UINT message, HWND control, wchar_t* text);
  void ProvidePortListTip(NMTTDISPINFOW& request);
  void ShowMessageBox(const std::wstring& text);
  struct ShownIcon {
    HICON icon = nullptr;
    bool dimmed = false;
  };
  void ShowIcon(HWND control, const ShownIcon& shown);
  HICON Greyed(HICON icon);

  // Another thread's synchronous send: false at once, or false from the window, once the
  // window is ending.
  bool SendFromOtherThread(UINT message, LPARAM parameter);
  bool Ending();
  void End(int result);
  void CloseOwnedDialogs();

  const int templateId_;
  DialogHandler& handler_;
  const HWND owner_;
  const DWORD threadId_;
  HWND dialog_ = nullptr;
  HICON windowIcon_ = nullptr;
  HWND toolTips_ = nullptr;                   // made at the first tip, owned by the dialog
  std::map<int, std::wstring> toolTipTexts_;  // by control: the texts of the tools it holds
  PortListTip portListTip_;
  std::wstring portListTipText_;         // the port list's tip while it is shown
  std::map<int, ShownIcon> shownIcons_;  // by icon control, from its first change
  std::map<HICON, HICON> greyedIcons_;   // by shared icon: its greyed copy, ours to free

  std::mutex endMutex_;
  bool ending_ = false;    // guarded by endMutex_
  int sendersInside_ = 0;  // guarded by endMutex_: other threads inside SendMessageW to us
};

}  // namespace ui
