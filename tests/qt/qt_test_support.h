// Helpers for the tests of the Qt window: a handler that records what the window sends it,
// the main template opened in a real (offscreen) window, and a way to act on a modal window
// or menu from inside the nested loop that runs it.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "res/resource.h"
#include "ui/qt/qt_window.h"

class RecordingHandler : public ui::DialogHandler {
 public:
  std::function<void(ui::Window&)> init, ok, timer, close;
  std::function<void(ui::Window&, int)> message;
  std::function<bool(ui::Window&, int)> sysCommand;
  std::vector<int> commands;
  int closes = 0;

  void OnInitDialog(ui::Window& window) override {
    if (init) init(window);
  }
  void OnCommand(ui::Window&, int controlId) override { commands.push_back(controlId); }
  void OnOk(ui::Window& window) override {
    if (ok) ok(window);
  }
  void OnTimer(ui::Window& window) override {
    if (timer) timer(window);
  }
  void OnMessage(ui::Window& window, int number) override {
    if (message) message(window, number);
  }
  bool OnSysCommand(ui::Window& window, int command) override {
    return sysCommand && sysCommand(window, command);
  }
  void OnClose(ui::Window& window) override {
    ++closes;
    if (close) close(window);
  }
};

// Runs `act` on the first modal window other than `current` to open (a dialog or a message
// box), from within the loop that runs it. Gives up after ten seconds.
void OnNextModal(QWidget* current, std::function<void(QWidget*)> act);
// The same for the next popup menu.
void OnNextPopup(std::function<void(QWidget*)> act);

class QtMainWindowTest : public testing::Test {
 protected:
  // Shows the main template in a window of its own, active and exposed.
  void Open();
  ui::QtWindow& Window() { return *window_; }
  template <typename Widget = QWidget>
  Widget* Control(int controlId) {
    return qobject_cast<Widget*>(window_->ControlWidget(controlId));
  }

  RecordingHandler handler_;

 private:
  std::unique_ptr<ui::QtWindow> window_;
};
