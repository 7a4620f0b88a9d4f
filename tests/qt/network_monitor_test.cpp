// The real main window, offscreen, through COM links to network lines: ser2net in front of the
// simulated detector (RFC 2217 and raw), the libmodbus Modbus TCP peer, and a refusing port.
#include <QApplication>
#include <QHelpEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>

#include "res/texts.h"
#include "tests/qt/qt_test_support.h"
#include "tests/support/network_peers.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/monitor_dialog.h"

namespace {

class QtNetworkWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(telnet_.Running() && raw_.Running() && peer_.Running());
    ports_.Link(1, telnet_.Url());
    ports_.Link(2, raw_.Url());
    ports_.Link(3, peer_.Url());
    ports_.Link(4, "socket://127.0.0.1:" + std::to_string(refusing_.port()));
    window_ = std::make_unique<ui::QtWindow>(*FindDialogTemplate(IDD_MAIN), dialog_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  ui::QtWindow& Window() { return *window_; }
  void Click(int button) { QTest::mouseClick(Window().ControlWidget(button), Qt::LeftButton); }

  SimProcess telnetSim_{{"--version", "11", "--baud", "19200"}};
  Ser2net telnet_{telnetSim_.SlavePath(), Ser2net::Mode::kRfc2217};
  SimProcess rawSim_{{"--version", "12", "--leak", "1"}};
  Ser2net raw_{rawSim_.SlavePath(), Ser2net::Mode::kRaw};
  ModbusTcpPeer peer_;
  RefusingPort refusing_;
  TempPortsDir ports_;
  MonitorDialog dialog_;
  std::unique_ptr<ui::QtWindow> window_;
};

TEST_F(QtNetworkWindowTest, EachKindOfLineReadsTheVersion) {
  Window().Select(IDC_BAUD_COMBO, 4);  // 19200: the rate RFC 2217 sets for the first
  const std::pair<int, const char*> expected[] = {{0, "Ver1.1"}, {1, "Ver1.2"}, {2, "Ver1.0"}};
  for (const auto& [index, version] : expected) {
    Window().Select(IDC_PORT_COMBO, index);
    Click(IDC_READ_VERSION);
    EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), version) << index;
  }
}

TEST_F(QtNetworkWindowTest, AcquisitionPollsThroughARawGateway) {
  Window().Select(IDC_PORT_COMBO, 1);
  Window().SetText(IDC_PERIOD_EDIT, "100");
  Click(IDC_ACQUIRE_BUTTON);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Window().Text(IDC_SUCCESS_COUNT) == "3"; }, 5000));
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "0");
  Click(IDC_ACQUIRE_BUTTON);
}

TEST_F(QtNetworkWindowTest, ARefusedConnectionIsThePortMessageAndItsCauseIsInTheTip) {
  Window().Select(IDC_PORT_COMBO, 3);
  QString shown;
  OnNextModal(&Window(), [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_TRUE(box);
    shown = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  Click(IDC_READ_VERSION);
  EXPECT_EQ(shown.toStdString(), text::kCommandPortTrouble);
  QWidget* list = Window().ControlWidget(IDC_PORT_COMBO);
  QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(list, &hover);
  EXPECT_TRUE(list->toolTip().contains("Com4：socket://127.0.0.1:"));
  EXPECT_TRUE(list->toolTip().contains("上次连接被拒绝")) << list->toolTip().toStdString();
  EXPECT_TRUE(list->toolTip().contains("Com1：" + QString::fromStdString(telnet_.Url()) + "\n"))
      << "RFC 2217 sets its own rate";
}

}  // namespace
