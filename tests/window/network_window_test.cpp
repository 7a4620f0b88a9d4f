// The window through COM links to network lines, on the fake toolkit: ser2net in front of the
// simulated detector (raw and RFC 2217), the libmodbus Modbus TCP peer, and a refusing port.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "res/resource.h"
#include "res/texts.h"
#include "res/tip_texts.h"
#include "tests/support/network_peers.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/fake/fake_window.h"
#include "ui/monitor_dialog.h"
#include "ui/port_list_tip.h"

namespace {

using namespace std::chrono_literals;

class NetworkWindowTest : public ::testing::Test {
 protected:
  void Open() { window_ = std::make_unique<ui::FakeWindow>(IDD_MAIN, dialog_); }
  ui::FakeWindow& Window() { return *window_; }
  const std::vector<std::string>& Boxes() { return window_->MessageBoxes(); }
  void TickOnly(std::initializer_list<int> boxes) {
    for (int box : kSearchRateBoxes) {
      Window().SetCheckState(box, std::find(boxes.begin(), boxes.end(), box) != boxes.end());
    }
  }
  // Starts the search and waits for its end, found or not.
  void Search() {
    const std::size_t before = Boxes().size();
    Window().Click(IDC_SEARCH_BUTTON);
    ASSERT_TRUE(Window().PumpUntil([&] { return Boxes().size() > before; }, 30s));
  }

  TempPortsDir ports_;
  MonitorDialog dialog_;
  std::unique_ptr<ui::FakeWindow> window_;
};

TEST_F(NetworkWindowTest, EachKindOfLineReadsTheVersionThroughItsComLink) {
  SimProcess telnetSim({"--version", "11"});
  Ser2net telnet(telnetSim.SlavePath(), Ser2net::Mode::kRfc2217);
  SimProcess rawSim({"--version", "12"});
  Ser2net raw(rawSim.SlavePath(), Ser2net::Mode::kRaw);
  ModbusTcpPeer peer;  // version 1.0
  ASSERT_TRUE(telnet.Running() && raw.Running() && peer.Running());
  ports_.Link(1, telnet.Url());
  ports_.Link(2, raw.Url());
  ports_.Link(3, peer.Url());
  Open();
  const std::pair<int, const char*> expected[] = {{0, "Ver1.1"}, {1, "Ver1.2"}, {2, "Ver1.0"}};
  for (const auto& [index, version] : expected) {
    Window().Choose(IDC_PORT_COMBO, index);
    Window().SetText(IDC_VERSION_TEXT, "");
    Window().Click(IDC_READ_VERSION);
    EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), version) << index;
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(NetworkWindowTest, AcquisitionGoesOnWhenTheGatewayComesBack) {
  SimProcess sim({"--leak", "1"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw);
  ASSERT_TRUE(gateway.Running());
  ports_.Link(1, gateway.Url());
  Open();
  Window().Click(IDC_ACQUIRE_BUTTON);
  ASSERT_EQ(Window().Text(IDC_ACQUIRE_BUTTON), text::kStopAcquisition);
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "1");
  EXPECT_EQ(Window().Text(IDC_LEAK_TEXT), text::kLeak);
  gateway.Stop();
  Window().Tick();
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_FAILURE_COUNT), "2");
  ASSERT_TRUE(gateway.Start());
  Window().Tick();
  EXPECT_EQ(Window().Text(IDC_SUCCESS_COUNT), "2");
  Window().Click(IDC_ACQUIRE_BUTTON);
  EXPECT_TRUE(Boxes().empty());
}

// The simulator answers only at its own rate, so finding it proves the rate was set.
TEST_F(NetworkWindowTest, TheSearchOverRfc2217FindsTheRateAndAddress) {
  SimProcess sim({"--address", "2", "--baud", "19200"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRfc2217);
  ASSERT_TRUE(gateway.Running());
  ports_.Link(1, gateway.Url());
  Open();
  TickOnly({IDC_SEARCH_9600, IDC_SEARCH_19200});
  Search();
  EXPECT_EQ(Boxes().back(), "产品参数为：波特率19200地址2");
  EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "2");
}

// A gateway that sets its own rate is searched at the rate its link names and no other; a
// link that names none leaves the search nothing to probe, and the port list says why.
TEST_F(NetworkWindowTest, AGatewaysOwnRateIsTheOnlyOneSearched) {
  SimProcess sim({"--address", "1", "--baud", "4800"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw, 4800);
  ASSERT_TRUE(gateway.Running());
  ports_.Link(1, gateway.Url("?baud=4800"));
  ports_.Link(2, gateway.Url());
  Open();
  const auto start = std::chrono::steady_clock::now();
  Search();
  EXPECT_EQ(Boxes().back(), "产品参数为：波特率4800地址1");
  // Address 0 at 4800 alone missed: not 1200 and 2400 first.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);

  Window().Choose(IDC_PORT_COMBO, 1);
  Search();
  EXPECT_EQ(Boxes().back(), text::kSearchExhausted);
  EXPECT_EQ(Window().Text(IDC_SEARCH_RESULT), text::kNoParametersFound);

  const std::string tip = PortListToolTip(12);
  EXPECT_NE(tip.find("Com1：" + gateway.Url("?baud=4800") + "（网关速率固定为 4800"),
            std::string::npos)
      << tip;
  EXPECT_NE(tip.find("Com2：" + gateway.Url() + std::string(tip::kGatewayRateUnnamed)),
            std::string::npos)
      << tip;
}

TEST_F(NetworkWindowTest, AGatewayThatRefusesIsThePortMessageWithItsCauseInTheTip) {
  RefusingPort refusing;
  const std::string url = "tcp://127.0.0.1:" + std::to_string(refusing.port());
  ports_.Link(1, url);
  Open();
  Window().Click(IDC_READ_VERSION);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], text::kCommandPortTrouble);
  EXPECT_NE(PortListToolTip(12).find("Com1：" + url + "（网关速率固定，"), std::string::npos);
  EXPECT_NE(PortListToolTip(12).find(std::string("，") + std::string(tip::kLastConnectionRefused)),
            std::string::npos)
      << PortListToolTip(12);
}

}  // namespace
