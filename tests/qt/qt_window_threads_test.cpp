// The Qt window's loop: messages and message boxes from a worker thread, timer 1, nested
// dialogs and the context menu.
#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/qt/qt_test_support.h"
#include "ui/about_dialog.h"
#include "ui/toolkit/application.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kMessage = 1029;

int Distance(QPoint a, QPoint b) {
  return (a - b).manhattanLength();
}

class QtWindowLoopTest : public QtMainWindowTest {
 protected:
  void TearDown() override {
    handler_.close = nullptr;  // the window outlives this fixture's worker
    if (worker_.joinable()) worker_.join();
  }
  // The worker is joined as the window ends, as the window code does.
  void StartWorker(std::function<void()> work) {
    handler_.close = [this](ui::Window&) {
      if (worker_.joinable()) worker_.join();
    };
    worker_ = std::thread(std::move(work));
  }

  std::thread worker_;
};

TEST_F(QtWindowLoopTest, SendRunsTheHandlerOnTheWindowThreadAndWaitsForIt) {
  Open();
  std::thread::id handlerThread;
  std::atomic<bool> handled = false, returned = false;
  handler_.message = [&](ui::Window&, int message) {
    EXPECT_EQ(message, kMessage);
    handlerThread = std::this_thread::get_id();
    std::this_thread::sleep_for(50ms);
    handled = true;
  };
  bool sent = false, handledFirst = false;
  StartWorker([&] {
    sent = Window().Send(kMessage);
    handledFirst = handled;
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 5000));
  EXPECT_TRUE(sent);
  EXPECT_TRUE(handledFirst);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST_F(QtWindowLoopTest, WaitServingRunsSendsButHoldsTheUsersInput) {
  Open();
  std::vector<int> handled;
  handler_.message = [&](ui::Window&, int message) { handled.push_back(message); };
  std::atomic<bool> workerDone = false;
  // A click queued before the wait must not run inside it: the window code is in a handler.
  QMetaObject::invokeMethod(
      Control<QAbstractButton>(IDC_READ_VERSION),
      [this] { Control<QAbstractButton>(IDC_READ_VERSION)->click(); }, Qt::QueuedConnection);
  StartWorker([&] {
    EXPECT_TRUE(Window().Send(kMessage));
    EXPECT_TRUE(Window().Send(kMessage + 1));
    workerDone = true;
  });
  Window().WaitServing([&] { return workerDone.load(); });
  EXPECT_EQ(handled, (std::vector<int>{kMessage, kMessage + 1}));
  EXPECT_TRUE(handler_.commands.empty());
  QTest::qWait(20);
  EXPECT_EQ(handler_.commands, std::vector<int>{IDC_READ_VERSION});
}

TEST_F(QtWindowLoopTest, SendWaitingAsTheWindowEndsIsReleasedWithoutRunning) {
  Open();
  bool ran = false;
  handler_.message = [&](ui::Window&, int) { ran = true; };
  std::atomic<int> sent = -1;
  StartWorker([&] { sent = Window().Send(kMessage); });
  std::this_thread::sleep_for(100ms);  // the message waits: this thread runs no loop
  Window().reject();                   // OnClose joins the worker
  EXPECT_EQ(sent, 0);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);

  // From now on, Send gives up at once.
  const auto start = Clock::now();
  std::thread([&] { sent = Window().Send(kMessage); }).join();
  EXPECT_EQ(sent, 0);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_FALSE(ran);
}

TEST_F(QtWindowLoopTest, WorkerMessageBoxShowsOnTheWindowThreadUntilDismissed) {
  Open();
  std::atomic<bool> returned = false;
  bool waitedForBox = false;
  QMessageBox* seen = nullptr;
  QString caption, text;
  OnNextModal(&Window(), [&](QWidget* modal) {
    seen = qobject_cast<QMessageBox*>(modal);
    ASSERT_TRUE(seen);
    caption = seen->windowTitle();
    text = seen->text();
    EXPECT_EQ(seen->icon(), QMessageBox::Warning);
    EXPECT_EQ(seen->buttons().size(), 1);
    EXPECT_EQ(seen->parentWidget(), &Window());
    waitedForBox = !returned;
    seen->button(QMessageBox::Ok)->click();
  });
  StartWorker([&] {
    Window().MessageBox("没有发现此串口或此串口被占用");
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 10000));
  EXPECT_TRUE(waitedForBox);
  EXPECT_EQ(caption, "qt_window_test");  // the executable's name
  EXPECT_EQ(text, "没有发现此串口或此串口被占用");
}

TEST_F(QtWindowLoopTest, WorkerInAMessageBoxIsReleasedWhenTheWindowEnds) {
  Open();
  std::atomic<bool> returned = false;
  OnNextModal(&Window(), [&](QWidget*) { Window().reject(); });
  StartWorker([&] {
    Window().MessageBox("x");
    returned = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return handler_.closes == 1; }, 10000));
  EXPECT_TRUE(returned);
  QTest::qWait(20);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box ended with its window";
}

TEST_F(QtWindowLoopTest, ALongTickIsNotFollowedByABurst) {
  Open();
  std::vector<Clock::time_point> ticks;
  bool slowPoll = true;
  handler_.timer = [&](ui::Window&) {
    ticks.push_back(Clock::now());
    if (std::exchange(slowPoll, false)) std::this_thread::sleep_for(300ms);
  };
  Window().SetTimer(20);
  QTest::qWait(600);
  Window().KillTimer();
  ASSERT_GE(ticks.size(), 3u);
  int close = 0;
  for (std::size_t i = 1; i < ticks.size(); ++i) close += ticks[i] - ticks[i - 1] < 10ms;
  EXPECT_LE(close, 1) << "ticks after the long one: " << ticks.size() - 1;
  EXPECT_LE(ticks.size(), 1 + 300 / 20 + 3u);

  // A period of 0, as from an empty period field, ticks at Windows' minimum of 10 ms.
  ticks.clear();
  Window().SetTimer(0);
  QTest::qWait(200);
  Window().KillTimer();
  EXPECT_GE(ticks.size(), 3u);
  EXPECT_LE(ticks.size(), 200 / 10 + 3u);
  const std::size_t killed = ticks.size();
  QTest::qWait(50);
  EXPECT_EQ(ticks.size(), killed);
}

TEST_F(QtWindowLoopTest, PasswordDialogRunsModallyOverItsOwner) {
  Open();
  RecordingHandler password;
  std::string typed = "none";
  password.ok = [&](ui::Window& window) { typed = window.Text(IDC_PASSWORD_EDIT); };
  OnNextModal(&Window(), [&](QWidget* modal) {
    auto* dialog = dynamic_cast<ui::QtWindow*>(modal);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->focusWidget(), dialog->ControlWidget(ui::kIdOk));
    EXPECT_LE(Distance(dialog->geometry().center(), Window().geometry().center()), 2);
    auto* field = qobject_cast<QLineEdit*>(dialog->ControlWidget(IDC_PASSWORD_EDIT));
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    QTest::keyClicks(field, "502713");
    QTest::mouseClick(dialog->ControlWidget(ui::kIdOk), Qt::LeftButton);
  });
  EXPECT_EQ(Window().RunModal(IDD_PASSWORD, password), ui::kIdOk);
  EXPECT_EQ(typed, "502713");
  EXPECT_EQ(password.closes, 1);

  // Esc ends it without OK.
  typed = "none";
  OnNextModal(&Window(), [](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  EXPECT_EQ(Window().RunModal(IDD_PASSWORD, password), ui::kIdCancel);
  EXPECT_EQ(typed, "none");
  EXPECT_EQ(Window().RunModal(4242, password), ui::kIdCancel);
}

TEST_F(QtWindowLoopTest, AboutItemOfTheContextMenuOpensTheAboutBox) {
  int command = 0, aboutResult = 0;
  QString menuText, aboutCaption;
  int aboutOffset = -1;
  handler_.init = [](ui::Window& window) {
    window.AppendSystemMenuItem(IDM_ABOUTBOX, window.LoadString(IDS_ABOUTBOX));
  };
  handler_.sysCommand = [&](ui::Window& window, int chosen) {
    command = chosen;
    OnNextModal(&Window(), [&](QWidget* about) {
      aboutCaption = about->windowTitle();
      aboutOffset = Distance(about->geometry().center(), Window().geometry().center());
      QTest::mouseClick(dynamic_cast<ui::QtWindow*>(about)->ControlWidget(ui::kIdOk),
                        Qt::LeftButton);
    });
    AboutDialog about;
    aboutResult = window.RunModal(IDD_ABOUTBOX, about);
    return true;
  };
  Open();
  OnNextPopup([&](QWidget* popup) {
    auto* menu = qobject_cast<QMenu*>(popup);
    ASSERT_TRUE(menu);
    menuText = menu->actions().last()->text();
    QTest::keyClick(menu, Qt::Key_A);  // the item's mnemonic
  });
  // A right click on the window's background, here inside a group box.
  QTest::mouseClick(Window().windowHandle(), Qt::RightButton, {},
                    Control(IDC_SEARCH_2400)->pos() + QPoint(0, 30));
  ASSERT_TRUE(QTest::qWaitFor([&] { return aboutResult != 0; }, 10000));
  EXPECT_EQ(menuText, "关于 KL395(&A)...");
  EXPECT_EQ(command, IDM_ABOUTBOX);
  EXPECT_EQ(aboutCaption, "关于 KL395");
  EXPECT_LE(aboutOffset, 2);
  EXPECT_EQ(aboutResult, ui::kIdOk);
  EXPECT_TRUE(Window().isVisible());

  // The menu key works from the port list, which has the focus at first.
  bool popped = false;
  OnNextPopup([&](QWidget* popup) {
    popped = true;
    popup->close();
  });
  QWidget* list = Control(IDC_PORT_COMBO);
  QContextMenuEvent key(QContextMenuEvent::Keyboard, {}, list->mapToGlobal(QPoint()));
  QApplication::sendEvent(list, &key);
  EXPECT_TRUE(popped);
}

TEST(QtMainDialogTest, RunsCentredOnTheScreenUntilEsc) {
  RecordingHandler handler;
  QString caption;
  int offset = -1;
  Qt::WindowFlags flags;
  OnNextModal(nullptr, [&](QWidget* window) {
    caption = window->windowTitle();
    flags = window->windowFlags();
    offset =
        Distance(window->frameGeometry().center(), window->screen()->availableGeometry().center());
    QTest::keyClick(window, Qt::Key_Escape);
  });
  EXPECT_EQ(ui::RunMainDialog(IDD_MAIN, handler), ui::kIdCancel);
  EXPECT_EQ(caption, "KL-395");
  EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_LE(offset, 2);
  EXPECT_EQ(handler.closes, 1);
}

}  // namespace
