// Every register operation against the simulated detectors through the Win32 backend.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "device/detector.h"
#include "tests/win32/wine_ports.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(DetectorOverWin32, ReadsEachRegisterWithItsScaling) {
  OpenedPort port(wine_ports::kDetector, 9600);
  ASSERT_TRUE(port) << LastCommError().message;
  EXPECT_EQ(ReadVersion(*port, 1).value, 1.0);
  EXPECT_EQ(ReadSensitivity(*port, 1).value, 2);
  const auto volts = ReadVoltage(*port, 1);
  ASSERT_TRUE(volts);
  EXPECT_FLOAT_EQ(*volts, 12.4f);
  EXPECT_TRUE(ProbeAddress(*port, 1));
  const auto status = ReadStatus(*port, 1);
  ASSERT_TRUE(status);
  EXPECT_FALSE(status->leak);
  EXPECT_EQ(status->alarmType, 0);

  OpenedPort leaking(wine_ports::kLeaking, 9600);
  const auto alarm = ReadStatus(*leaking, 1);
  ASSERT_TRUE(alarm);
  EXPECT_TRUE(alarm->leak);
  EXPECT_EQ(alarm->alarmType, 1);
}

TEST(DetectorOverWin32, WritesChangeTheDetector) {
  auto port = std::make_unique<OpenedPort>(wine_ports::kWritable, 9600);
  ASSERT_TRUE(*port);
  EXPECT_TRUE(WriteSensitivity(**port, 1, 3));
  EXPECT_EQ(ReadSensitivity(**port, 1).value, 3);
  EXPECT_TRUE(WriteSensitivity(**port, 1, 2));

  ASSERT_TRUE(WriteAddress(**port, 1, 7));
  EXPECT_FALSE(ProbeAddress(**port, 1)) << "the old address no longer answers";
  EXPECT_TRUE(ProbeAddress(**port, 7));

  ASSERT_TRUE(WriteBaudCode(**port, 7, 4));
  EXPECT_FALSE(ProbeAddress(**port, 7)) << "still at 9600 while the detector is at 19200";
  port = std::make_unique<OpenedPort>(wine_ports::kWritable, 19200);
  EXPECT_TRUE(ProbeAddress(**port, 7));

  // Back as the other tests expect it.
  ASSERT_TRUE(WriteBaudCode(**port, 7, 3));
  port = std::make_unique<OpenedPort>(wine_ports::kWritable, 9600);
  ASSERT_TRUE(WriteAddress(**port, 7, 1));
  EXPECT_TRUE(ProbeAddress(**port, 1));
}

TEST(DetectorOverWin32, UnansweredOperationsGiveUpAfterTheirWaits) {
  OpenedPort port(wine_ports::kDetector, 9600);
  ASSERT_TRUE(port);
  auto start = Clock::now();
  EXPECT_FALSE(ProbeAddress(*port, 2));  // nobody at address 2
  const auto probe = Clock::now() - start;
  start = Clock::now();
  EXPECT_FALSE(ReadVersion(*port, 2));
  const auto read = Clock::now() - start;
  EXPECT_GE(probe, 500ms);
  EXPECT_LT(probe, 900ms);
  EXPECT_GE(read, 1000ms);
  EXPECT_LT(read, 1600ms);
}

}  // namespace
