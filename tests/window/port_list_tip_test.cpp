// The port list's explanation, worked out from the COM links, the devices present and what
// stands in the way of each, without opening any port.
#include "ui/port_list_tip.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_ports_dir.h"

namespace {

TEST(PortListToolTip, NamesEachDeviceAndWhatStandsInItsWay) {
  TempPortsDir ports;
  EXPECT_EQ(PortListToolTip(12), "本机没有串口设备");

  PtyPair adapter, free, held;
  std::filesystem::create_symlink(adapter.PortPath(), ports.DeviceFolder() / "ttyUSB0");
  ports.Link(2, free.PortPath());
  ports.Link(3, "/dev/kl395-unplugged");
  ports.Link(4, held.PortPath());
  const PortHolder terminal(held.PortPath(), O_RDONLY);
  ASSERT_GT(terminal.pid(), 0);

  const std::string device = (ports.DeviceFolder() / "ttyUSB0").string();
  EXPECT_EQ(PortListToolTip(12),
            "Com1：" + device + "（无链接，取自设备列表）\n" + "Com2：" + free.PortPath() + "\n" +
                "Com3：/dev/kl395-unplugged，设备不存在\n" + "Com4：" + held.PortPath() +
                "，已被 sleep（进程 " + std::to_string(terminal.pid()) + "）占用");
}

// Worked out at the first hover and kept for a while: another hover soon after shows the same
// tip without looking at the ports again, a later one what has changed since.
TEST(PortListTip, IsKeptForAWhileAndThenWorkedOutAnew) {
  TempPortsDir ports;
  PtyPair line;
  ports.Link(1, line.PortPath());
  PortListTip tip;
  const auto start = PortListTip::Clock::now();
  const std::string free = tip.Text(12, start);
  EXPECT_EQ(free, "Com1：" + line.PortPath());

  const PortHolder terminal(line.PortPath(), O_RDONLY);
  ASSERT_GT(terminal.pid(), 0);
  EXPECT_EQ(tip.Text(12, start + PortListTip::kKeptFor / 2), free);
  EXPECT_EQ(tip.Text(12, start + PortListTip::kKeptFor), PortListToolTip(12));
  EXPECT_NE(PortListToolTip(12), free);
}

}  // namespace
