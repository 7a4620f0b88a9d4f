// Who else holds a terminal open, found through /proc from the text of each descriptor's link.
#include "serial/device_holders_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_ports_dir.h"

namespace {

// The port is named through links, as a COM link to /dev/serial/by-id/... names an adapter,
// while /proc shows the terminal's own path; the holders open it through the links too.
TEST(DeviceHolders, FindTheProgramHoldingATerminalNamedThroughALink) {
  PtyPair line;
  TempPortsDir ports;
  ports.Link(1, line.PortPath());
  const std::string linked = (ports.Folder() / "com1").string();
  struct stat info {};
  ASSERT_EQ(::stat(linked.c_str(), &info), 0);
  EXPECT_FALSE(FindOtherHolder(info.st_rdev)) << "this process's own descriptors do not count";

  {
    const PortHolder reader(linked, O_RDONLY);
    ASSERT_GT(reader.pid(), 0);
    const auto found = FindOtherReader(info.st_rdev);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pid, reader.pid());
    EXPECT_EQ(found->command, "sleep");
    EXPECT_EQ(FindOtherHolder(info.st_rdev).value_or(DeviceHolder{}).pid, reader.pid());
  }
  const PortHolder writer(linked, O_WRONLY);
  ASSERT_GT(writer.pid(), 0);
  EXPECT_FALSE(FindOtherReader(info.st_rdev)) << "it only writes";
  EXPECT_EQ(FindOtherHolder(info.st_rdev).value_or(DeviceHolder{}).pid, writer.pid())
      << "but it holds the terminal";
}

}  // namespace
