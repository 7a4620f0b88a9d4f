// A window without a toolkit, for testing the window code headless. It holds the controls
// of a dialog template, records what the code did to them, and lets a test click, type,
// choose, tick the timer and answer nested dialogs. The thread that creates it plays the
// window's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/toolkit/dialog_template.h"
#include "ui/toolkit/window.h"

namespace ui {

class FakeWindow : public Window {
 public:
  // Lays out `templateId` and runs the handler's OnInitDialog.
  FakeWindow(int templateId, DialogHandler& handler);
  ~FakeWindow() override;

  // --- What a user does ---
  // Clicks a push button or check box; a disabled or hidden control does nothing.
  void Click(int controlId);
  void Type(int controlId, std::string_view text);
  void Choose(int controlId, int index);
  // One tick of timer 1, if it runs.
  void Tick();
  void ChooseSystemMenuItem(int command);
  // Esc or the close box: the dialog ends with kIdCancel.
  void Close();

  // Runs what other threads sent (Send, MessageBox) until `done` holds or `timeout` passes.
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // --- What the code did ---
  bool IsEnabled(int controlId) const;
  bool IsVisible(int controlId) const;
  int Icon(int controlId) const;
  bool IconDimmed(int controlId) const { return At(controlId).iconDimmed; }
  const std::string& ToolTip(int controlId) const { return At(controlId).toolTip; }
  int WindowIcon() const { return windowIcon_; }
  int AttentionRequests() const { return attentionRequests_; }
  bool TimerRunning() const { return timerRunning_; }
  unsigned TimerPeriod() const { return timerPeriod_; }
  bool Closed() const { return closed_; }
  const std::vector<std::string>& MessageBoxes() const { return messageBoxes_; }
  const std::vector<std::pair<int, std::string>>& SystemMenuItems() const { return menuItems_; }
  const std::vector<int>& ModalDialogsRun() const { return modalsRun_; }

  // Called while a message box is up, before it is dismissed.
  std::function<void(std::string_view text)> onMessageBox;
  // Plays the user of a nested dialog: gets the child window and either clicks its OK
  // button or returns how it ends. Without one, nested dialogs end with kIdCancel.
  std::function<int(FakeWindow& child)> onModal;

  // --- Window ---
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
  struct Control {
    const ControlTemplate* source = nullptr;
    std::string text;
    bool enabled = true;
    bool visible = true;
    std::vector<std::string> entries;
    int selection = -1;
    int check = 0;
    int icon = 0;
    bool iconDimmed = false;
    std::string toolTip;
  };

  Control& At(int controlId);
  const Control& At(int controlId) const;
  // Runs `work` on the window's thread and waits for it; false once the window is closing.
  bool RunOnWindowThread(std::function<void()> work);
  void ShowMessageBox(std::string_view text);

  DialogHandler& handler_;
  std::map<int, Control> controls_;
  std::thread::id windowThread_;
  int windowIcon_ = 0;
  int attentionRequests_ = 0;
  bool timerRunning_ = false;
  unsigned timerPeriod_ = 0;
  bool closed_ = false;
  int endResult_ = kIdCancel;
  std::vector<std::string> messageBoxes_;
  std::vector<std::pair<int, std::string>> menuItems_;
  std::vector<int> modalsRun_;

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  struct Task {
    std::function<void()> work;
    bool started = false;
    bool done = false;
  };
  std::deque<Task*> queue_;
  bool closing_ = false;  // guarded by queueMutex_
};

}  // namespace ui
