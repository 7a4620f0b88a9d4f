#include "tests/qt/qt_test_support.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

namespace {

// Polls every 10 ms, so that it runs inside whichever nested loop is current.
void WhenFound(std::function<QWidget*()> find, std::function<void(QWidget*)> act) {
  auto* poll = new QTimer(qApp);
  auto tries = std::make_shared<int>(1000);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, find, act] {
    QWidget* found = find();
    if (!found && --*tries > 0) return;
    poll->stop();
    poll->deleteLater();
    if (found) act(found);
  });
  poll->start(10);
}

}  // namespace

void OnNextModal(QWidget* current, std::function<void(QWidget*)> act) {
  WhenFound(
      [current]() -> QWidget* {
        QWidget* modal = QApplication::activeModalWidget();
        return modal && modal != current && modal->isVisible() ? modal : nullptr;
      },
      std::move(act));
}

void OnNextPopup(std::function<void(QWidget*)> act) {
  WhenFound([] { return QApplication::activePopupWidget(); }, std::move(act));
}

void QtMainWindowTest::Open() {
  window_ = std::make_unique<ui::QtWindow>(*FindDialogTemplate(IDD_MAIN), handler_);
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
}

int main(int argc, char* argv[]) {
  testing::InitGoogleTest(&argc, argv);
  // Never a real display: the tests drive the window offscreen.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ui::UseProgramFont();
  return RUN_ALL_TESTS();
}
