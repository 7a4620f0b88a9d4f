// The order in which COM numbers map to serial devices when no link names them.
#include "serial/port_names_posix.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

TEST(OrderSerialDevicesTest, UsbAdaptersFirstThenOnBoardPortsWithHardware) {
  const Names dev = {"ttyS10", "ttyUSB10", "console", "ttyS1", "ttyACM0", "tty1", "ttyUSB2",
                     "ttyS0",  "ttyUSB",   "ttyUSBx", "ttyS2", "ttyACM1", "ptmx", "ttySAC0"};
  const auto hasHardware = [](const std::string& name) {
    return name != "ttyS1" && name != "ttyS2";
  };
  EXPECT_EQ(OrderSerialDevices(dev, hasHardware),
            (Names{"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyACM1", "ttyS0", "ttyS10"}));
}

TEST(OrderSerialDevicesTest, OnlyOnBoardPortsAreAskedAboutHardware) {
  Names asked;
  const auto hasHardware = [&](const std::string& name) {
    asked.push_back(name);
    return false;
  };
  EXPECT_EQ(OrderSerialDevices({"ttyS0", "ttyUSB0", "ttyACM3"}, hasHardware),
            (Names{"ttyUSB0", "ttyACM3"}));
  EXPECT_EQ(asked, Names{"ttyS0"});
}

}  // namespace
