// The real main window, offscreen, with the simulated detector on COM1: what a technician
// sees after start, a version read, acquisition, and Esc.
#include <fcntl.h>
#include <signal.h>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <clocale>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "res/texts.h"
#include "serial/comm_port.h"
#include "tests/qt/qt_test_support.h"
#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/monitor_dialog.h"

namespace {

enum class Lamp { kOff, kRed, kGreen };

// Whether `shown` is `original` without its colours: each pixel as bright to the eye (ITU-R
// BT.601 weights) and as opaque as the original's, and grey.
::testing::AssertionResult IsGreyedFrom(const QImage& shown, const QImage& original) {
  if (shown.size() != original.size() || shown == original) {
    return ::testing::AssertionFailure() << "not a changed picture of the same size";
  }
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) {
      const QColor was = original.pixelColor(x, y);
      const QColor is = shown.pixelColor(x, y);
      const double brightness = 0.299 * was.red() + 0.587 * was.green() + 0.114 * was.blue();
      if (is.alpha() != was.alpha() || is.red() != is.green() || is.green() != is.blue() ||
          std::abs(is.red() - brightness) > 1.0) {
        return ::testing::AssertionFailure()
               << "pixel " << x << "," << y << " is " << is.name(QColor::HexArgb).toStdString()
               << ", was " << was.name(QColor::HexArgb).toStdString();
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class QtMonitorWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sim_.SlavePath().empty());
    ports_.Link(1, sim_.SlavePath());
    window_ = std::make_unique<ui::QtWindow>(*FindDialogTemplate(IDD_MAIN), dialog_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  ui::QtWindow& Window() { return *window_; }
  void Click(int button) { QTest::mouseClick(Window().ControlWidget(button), Qt::LeftButton); }
  QImage LampImage(int lamp) {
    return qobject_cast<QLabel*>(Window().ControlWidget(lamp))->pixmap().toImage();
  }
  int Count(int counter) { return std::stoi(Window().Text(counter)); }
  // What a lamp shows, judged by the colour at its centre as a person would.
  Lamp LampShown(int lamp) {
    const QImage image = LampImage(lamp);
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    if (centre.red() > 2 * centre.green()) return Lamp::kRed;
    if (centre.green() > 2 * centre.red()) return Lamp::kGreen;
    return Lamp::kOff;
  }

  SimProcess sim_{{"--address", "1", "--baud", "9600", "--version", "10"}};
  TempPortsDir ports_;
  MonitorDialog dialog_;
  std::unique_ptr<ui::QtWindow> window_;
};

TEST_F(QtMonitorWindowTest, ComesUpInItsInitialState) {
  EXPECT_EQ(Window().windowTitle(), "KL-395");
  EXPECT_EQ(Window().Text(IDC_PORT_COMBO), "Com1");
  EXPECT_EQ(Window().Text(IDC_BAUD_COMBO), "9600");
  EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "1");
  EXPECT_EQ(Window().Text(IDC_PERIOD_EDIT), "500");
  EXPECT_EQ(Window().CheckState(IDC_SEARCH_19200), 1);
  EXPECT_FALSE(Window().ControlWidget(IDC_VOLTAGE_VALUE)->isVisible());
  for (int lamp : {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP}) {
    EXPECT_EQ(LampShown(lamp), Lamp::kOff) << lamp;
  }
  EXPECT_EQ(QApplication::focusWidget(), Window().ControlWidget(IDC_PORT_COMBO));
}

TEST_F(QtMonitorWindowTest, VersionButtonShowsTheDetectorsVersion) {
  Click(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver1.0");
}

TEST_F(QtMonitorWindowTest, AcquisitionLightsTheLampsAndCountsUntilEsc) {
  ASSERT_TRUE(sim_.Command("leak 1"));
  ASSERT_TRUE(sim_.Command("alarm 2"));
  Window().SetText(IDC_PERIOD_EDIT, "100");
  Click(IDC_ACQUIRE_BUTTON);
  EXPECT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);
  EXPECT_FALSE(Window().ControlWidget(IDC_READ_VERSION)->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_SUCCESS_COUNT) == "3"; }, 5000));
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "0");
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);
  EXPECT_EQ(LampShown(IDC_LEAK_LAMP), Lamp::kRed);
  EXPECT_EQ(LampShown(IDC_OPTICAL_LAMP), Lamp::kGreen);
  EXPECT_EQ(LampShown(IDC_PROBE_LAMP), Lamp::kRed);

  // Esc ends the window while acquisition runs: the polls stop and the port is let go.
  QTest::keyClick(Window().ControlWidget(IDC_PERIOD_EDIT), Qt::Key_Escape);
  EXPECT_FALSE(Window().isVisible());
  const std::string polls = Window().Text(IDC_SUCCESS_COUNT);
  QTest::qWait(300);
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), polls);
  const CommHandle port = OpenCommPort(1, 9600);
  EXPECT_TRUE(port);
  CloseCommPort(port);
}

// A detector that stops answering: its last reading stays on the lamps, greyed from the
// second failed poll on, and in colour again once it answers.
TEST_F(QtMonitorWindowTest, LampsShowAStaleReadingGreyed) {
  ASSERT_TRUE(sim_.Command("leak 1"));
  Window().SetText(IDC_PERIOD_EDIT, "100");
  Click(IDC_ACQUIRE_BUTTON);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Count(IDC_SUCCESS_COUNT) >= 1; }, 5000));
  const QImage red = LampImage(IDC_LEAK_LAMP);
  const QImage green = LampImage(IDC_OPTICAL_LAMP);
  ASSERT_EQ(LampShown(IDC_LEAK_LAMP), Lamp::kRed);

  ASSERT_TRUE(sim_.Command("fault silent"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Count(IDC_FAILURE_COUNT) >= 2; }, 10000));
  EXPECT_TRUE(IsGreyedFrom(LampImage(IDC_LEAK_LAMP), red));
  EXPECT_TRUE(IsGreyedFrom(LampImage(IDC_OPTICAL_LAMP), green));
  EXPECT_TRUE(IsGreyedFrom(LampImage(IDC_PROBE_LAMP), green));
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);

  const int good = Count(IDC_SUCCESS_COUNT);
  ASSERT_TRUE(sim_.Command("fault none"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Count(IDC_SUCCESS_COUNT) > good; }, 5000));
  EXPECT_EQ(LampImage(IDC_LEAK_LAMP), red);
  EXPECT_EQ(LampImage(IDC_OPTICAL_LAMP), green);
  Click(IDC_ACQUIRE_BUTTON);
}

// Stopped during a probe that then answers, the search still reports its find. Acquisition
// started at once on another port waits for that report, which would otherwise enable the
// buttons acquisition disables.
TEST_F(QtMonitorWindowTest, AcquisitionRightAfterAStopWaitsForTheSearchsLastReport) {
  PtyPair searchLine;
  ports_.Link(2, searchLine.PortPath());
  Window().Select(IDC_PORT_COMBO, 1);
  for (int box : kSearchRateBoxes) Window().SetCheckState(box, box == IDC_SEARCH_9600);
  Click(IDC_SEARCH_BUTTON);
  ASSERT_EQ(searchLine.Receive(8).size(), 8u) << "the probe of address 0";
  Click(IDC_SEARCH_BUTTON);
  Window().Select(IDC_PORT_COMBO, 0);
  searchLine.Send(std::vector<std::uint8_t>{0x00, 0x03, 0x02, 0x00, 0x0A, 0x05, 0x83});  // from 0
  QString found;
  OnNextModal(&Window(), [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_TRUE(box);
    found = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  Click(IDC_ACQUIRE_BUTTON);
  EXPECT_EQ(found, "产品参数为：波特率9600地址0") << "served before acquisition started";
  EXPECT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);
  QTest::qWait(800);  // nothing is left to arrive
  EXPECT_FALSE(Window().ControlWidget(IDC_READ_VERSION)->isEnabled());
  EXPECT_FALSE(Window().ControlWidget(IDC_SEARCH_BUTTON)->isEnabled());
  Click(IDC_ACQUIRE_BUTTON);
}

// While a search runs, the status line keeps the window's text and its tooltip tells how far
// the scan has come and how long the rest will take; the tooltip goes with the search.
TEST_F(QtMonitorWindowTest, SearchStatusTooltipTellsTheProbesMadeAndTheTimeLeft) {
  for (int box : kSearchRateBoxes) Window().SetCheckState(box, box == IDC_SEARCH_9600);
  QWidget* status = Window().ControlWidget(IDC_SEARCH_RESULT);
  QString tipWhileSearching;
  OnNextModal(&Window(), [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_TRUE(box);
    box->button(QMessageBox::Ok)->click();
  });
  Click(IDC_SEARCH_BUTTON);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        tipWhileSearching = status->toolTip();
        return !tipWhileSearching.isEmpty();
      },
      5000));
  EXPECT_EQ(Window().Text(IDC_SEARCH_RESULT), "正在搜索波特率9600地址0");
  EXPECT_TRUE(tipWhileSearching.startsWith("已探测 1 次，共 256 次\n预计还需 "))
      << tipWhileSearching.toStdString();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Window().Text(IDC_SEARCH_BUTTON) == text::kStartSearch; }, 5000));
  EXPECT_EQ(Window().Text(IDC_SEARCH_RESULT), "搜索到的参数为:波特率9600地址1");
  EXPECT_TRUE(status->toolTip().isEmpty()) << status->toolTip().toStdString();
}

TEST_F(QtMonitorWindowTest, TooltipsExplainFailedPollsAndPortsInTheWay) {
  PtyPair held;
  ports_.Link(2, "/dev/kl395-unplugged");
  ports_.Link(3, held.PortPath());
  const PortHolder terminal(held.PortPath(), O_RDONLY);
  QWidget* list = Window().ControlWidget(IDC_PORT_COMBO);
  QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(list, &hover);
  EXPECT_TRUE(list->toolTip().contains("Com2：/dev/kl395-unplugged，设备不存在"))
      << list->toolTip().toStdString();
  EXPECT_TRUE(list->toolTip().contains("已被 sleep（进程 " + QString::number(terminal.pid())))
      << list->toolTip().toStdString();

  ASSERT_TRUE(sim_.Command("fault silent"));
  Window().SetText(IDC_PERIOD_EDIT, "100");
  Click(IDC_ACQUIRE_BUTTON);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_FAILURE_COUNT) == "1"; }, 5000));
  ASSERT_TRUE(sim_.Command("fault exception"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_FAILURE_COUNT) == "2"; }, 5000));
  Click(IDC_ACQUIRE_BUTTON);
  const QString tip = Window().ControlWidget(IDC_FAILURE_COUNT)->toolTip();
  EXPECT_TRUE(tip.contains("无应答：1 次")) << tip.toStdString();
  EXPECT_TRUE(tip.contains("检测器拒绝了请求（异常码 4）：1 次")) << tip.toStdString();
  EXPECT_TRUE(tip.contains("接收：01 83 04")) << tip.toStdString();
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "2") << "the counter itself reads as before";
}

// A pulled adapter comes back under the same COM number while the real window polls.
TEST_F(QtMonitorWindowTest, AcquisitionGoesOnByItselfWhenAPulledAdapterComesBack) {
  auto adapter = std::make_unique<SimProcess>(std::vector<std::string>{"--com", "3"});
  Window().Select(IDC_PORT_COMBO, 2);
  Window().SetText(IDC_PERIOD_EDIT, "100");
  Click(IDC_ACQUIRE_BUTTON);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_SUCCESS_COUNT) != "0"; }, 5000));
  adapter->Stop(SIGTERM);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_FAILURE_COUNT) == "3"; }, 5000));
  const std::string good = Window().Text(IDC_SUCCESS_COUNT);
  adapter = std::make_unique<SimProcess>(std::vector<std::string>{"--com", "3"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_SUCCESS_COUNT) != good; }, 5000));
  EXPECT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);
  Click(IDC_ACQUIRE_BUTTON);
  const CommHandle port = OpenCommPort(3, 9600);
  EXPECT_TRUE(port) << "the stop closed the port taken up again";
  CloseCommPort(port);
}

// QApplication takes the locale from the environment; under a decimal-comma one the C
// library's printf would write "Ver1,0" and "：12,0V".
TEST_F(QtMonitorWindowTest, NumbersKeepTheirFullStopUnderADecimalCommaLocale) {
  struct RestoresLocale {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    ~RestoresLocale() { std::setlocale(LC_ALL, saved.c_str()); }
  } restores;
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  Click(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver1.0");

  OnNextModal(&Window(), [](QWidget* modal) {
    auto* password = dynamic_cast<ui::QtWindow*>(modal);
    QTest::keyClicks(password->ControlWidget(IDC_PASSWORD_EDIT),
                     std::string(text::kAccessCode).c_str());
    QTest::mouseClick(password->ControlWidget(ui::kIdOk), Qt::LeftButton);
  });
  Click(IDC_FACTORY_BUTTON);
  ASSERT_EQ(Window().Text(IDC_FACTORY_BUTTON), text::kLeaveFactoryMode);
  Window().SetText(IDC_PERIOD_EDIT, "100");
  Click(IDC_ACQUIRE_BUTTON);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_VOLTAGE_VALUE) == "：12.0V"; }, 5000))
      << Window().Text(IDC_VOLTAGE_VALUE);
  Click(IDC_ACQUIRE_BUTTON);
}

}  // namespace
