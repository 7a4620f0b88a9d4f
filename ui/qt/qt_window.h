// The Qt implementation of ui::Window: a QDialog laid out from a dialog template, with the
// keyboard, timer and cross-thread behaviour the window code relies on.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "ui/port_list_tip.h"
#include "ui/qt/dialog_layout.h"
#include "ui/toolkit/dialog_template.h"
#include "ui/toolkit/window.h"

class QMenu;

namespace ui {

// The program's font for every window: Noto Sans CJK in its Simplified Chinese face, named
// explicitly because under a C locale fontconfig picks the Japanese face for Han text.
void UseProgramFont();

class QtWindow final : public QDialog, public Window {
 public:
  // Builds the dialog's controls from `dialog` and runs the handler's OnInitDialog. With an
  // owner, the dialog opens centred over it; without, centred on the screen. exec() runs it
  // and returns kIdOk or kIdCancel.
  QtWindow(const DialogTemplate& dialog, DialogHandler& handler, QWidget* owner = nullptr);
  ~QtWindow() override;

  // The widget of a control, or null; lets tests drive the real controls.
  QWidget* ControlWidget(int controlId) const;

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

  void done(int result) override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct Control {
    const ControlTemplate* source = nullptr;
    QWidget* widget = nullptr;
  };
  struct ShownIcon {
    int iconId = 0;
    bool dimmed = false;
  };
  // Work another thread hands to the window's thread; shared, because a waiter released by
  // the window's end may leave while the work still runs.
  struct Task {
    std::function<void()> work;
    bool started = false;
    bool done = false;
  };

  QWidget* CreateControl(const ControlTemplate& source);
  void PlaceControl(const Control& control);
  void Describe(const Control& control);
  void FocusFirstControl();
  const Control* Find(int controlId) const;
  template <typename Widget>
  Widget* Find(int controlId) const;
  void OnClicked(int controlId);
  ShownIcon* IconShownBy(int controlId);
  void ShowIcon(int controlId, const ShownIcon& shown);
  const QPixmap& LargeIcon(int iconId);
  const QPixmap& DimmedIcon(int iconId);

  bool RunOnWindowThread(std::function<void()> work);
  void RunNextTask();
  void End();
  void ShowMessageBox(const QString& text);

  const DialogTemplate& dialog_;
  DialogHandler& handler_;
  BaseUnits units_;
  std::vector<Control> controls_;        // in template order
  std::map<int, QPixmap> largeIcons_;    // by icon id, as loaded
  std::map<int, QPixmap> dimmedIcons_;   // by icon id, greyed from the loaded one
  std::map<int, ShownIcon> shownIcons_;  // by icon control, from its first change
  QTimer timer_;
  QMenu* contextMenu_ = nullptr;
  PortListTip portListTip_;
  bool ended_ = false;

  std::mutex tasksMutex_;
  std::condition_variable tasksChanged_;
  std::deque<std::shared_ptr<Task>> tasks_;
  bool closing_ = false;  // guarded by tasksMutex_
};

}  // namespace ui
