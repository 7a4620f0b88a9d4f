// The eight register operations: their exact request bytes and waits on a pseudo-terminal,
// and their results against the simulated detector.
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "device/detector.h"
#include "serial/rtu.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

struct WireCase {
  const char* name;
  std::function<bool(CommHandle)> operation;
  Bytes request;  // with its CRC, worked out independently of the code under test
  std::size_t replyLength;
};

// The reply a detector gives `request`, with zeroed register values: a write's repeats it,
// a read's carries two bytes a register asked.
Bytes GoodReply(const Bytes& request) {
  if (request[1] == 0x06) return request;
  Bytes reply = {request[0], 0x03, static_cast<std::uint8_t>(2 * request[5])};
  reply.resize(3 + 2 * request[5], 0x00);
  const std::uint16_t crc = ModbusCrc16(reply.data(), reply.size());
  reply.push_back(static_cast<std::uint8_t>(crc >> 8));
  reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return reply;
}

TEST(DetectorOperationsWire, EachOperationSendsItsRequestAndTakesItsReplyLength) {
  const std::vector<WireCase> cases = {
      {"ReadStatus",
       [](CommHandle p) { return ReadStatus(p, 1).value.has_value(); },
       {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B},
       9},
      {"ReadVoltage",
       [](CommHandle p) { return ReadVoltage(p, 1).value.has_value(); },
       {0x01, 0x03, 0x00, 0x04, 0x00, 0x01, 0xC5, 0xCB},
       7},
      {"ReadVersion",
       [](CommHandle p) { return ReadVersion(p, 1).value.has_value(); },
       {0x01, 0x03, 0x00, 0x03, 0x00, 0x01, 0x74, 0x0A},
       7},
      {"ReadSensitivity",
       [](CommHandle p) { return ReadSensitivity(p, 1).value.has_value(); },
       {0x01, 0x03, 0x00, 0x02, 0x00, 0x01, 0x25, 0xCA},
       7},
      {"WriteSensitivity",
       [](CommHandle p) { return static_cast<bool>(WriteSensitivity(p, 1, 3)); },
       {0x01, 0x06, 0x00, 0x02, 0x00, 0x03, 0x68, 0x0B},
       8},
      {"WriteAddress",
       [](CommHandle p) { return static_cast<bool>(WriteAddress(p, 1, 255)); },
       {0x01, 0x06, 0x00, 0x08, 0x00, 0xFF, 0x48, 0x48},
       8},
      {"WriteBaudCode",
       [](CommHandle p) { return static_cast<bool>(WriteBaudCode(p, 1, 4)); },
       {0x01, 0x06, 0x00, 0x09, 0x00, 0x04, 0x58, 0x0B},
       8},
      {"ProbeAddress",
       [](CommHandle p) { return static_cast<bool>(ProbeAddress(p, 1)); },
       {0x01, 0x03, 0x00, 0x04, 0x00, 0x01, 0xC5, 0xCB},
       7},
      {"address 300 goes out as 44",
       [](CommHandle p) { return ReadVersion(p, 300).value.has_value(); },
       {0x2C, 0x03, 0x00, 0x03, 0x00, 0x01, 0x72, 0x77},
       7},
  };
  for (const WireCase& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair pty;
    const CommHandle port = OpenCommDevice(pty.PortPath(), 9600);
    ASSERT_TRUE(port);
    std::jthread detector([&] {
      EXPECT_EQ(pty.Receive(8), c.request);
      const Bytes reply = GoodReply(c.request);
      EXPECT_EQ(reply.size(), c.replyLength);
      pty.Send(reply);
    });
    EXPECT_TRUE(c.operation(port));
    detector.join();
    CloseCommPort(port);
  }
}

TEST(DetectorOperationsWire, ProbeGivesUpAfterHalfASecondAndReadsAfterOne) {
  PtyPair pty;
  const CommHandle port = OpenCommDevice(pty.PortPath(), 9600);
  ASSERT_TRUE(port);
  auto start = Clock::now();
  EXPECT_FALSE(ProbeAddress(port, 1));
  const auto probe = Clock::now() - start;
  start = Clock::now();
  EXPECT_FALSE(ReadVersion(port, 1));
  const auto read = Clock::now() - start;
  EXPECT_GE(probe, 500ms);
  EXPECT_LT(probe, 900ms);
  EXPECT_GE(read, 1000ms);
  EXPECT_LT(read, 1600ms);
  CloseCommPort(port);
}

// The simulated detector at address 1, 9600 baud, with the tool's port open on it.
class SimulatedDetectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sim_.SlavePath().empty());
    port_ = OpenCommDevice(sim_.SlavePath(), 9600);
    ASSERT_TRUE(port_);
  }
  void TearDown() override { CloseCommPort(port_); }
  void Console(const std::string& line) { ASSERT_TRUE(sim_.Command(line)) << line; }

  SimProcess sim_{{"--version", "10", "--sensitivity", "2", "--voltage", "124"}};
  CommHandle port_;
};

TEST_F(SimulatedDetectorTest, ReadsEachRegisterWithItsScaling) {
  EXPECT_EQ(ReadVersion(port_, 1).value, 1.0);
  EXPECT_EQ(ReadSensitivity(port_, 1).value, 2);
  ASSERT_TRUE(ReadVoltage(port_, 1));
  EXPECT_FLOAT_EQ(*ReadVoltage(port_, 1), 12.4f);
  EXPECT_TRUE(ProbeAddress(port_, 1));

  Console("set 0 256");  // only bit 0 of the low byte is the leak
  Console("alarm 5");    // passed on whole; the window decides what 5 means
  auto status = ReadStatus(port_, 1);
  ASSERT_TRUE(status);
  EXPECT_FALSE(status->leak);
  EXPECT_EQ(status->alarmType, 5);

  Console("leak 1");
  Console("set 3 65535");  // unsigned: the top value is not -1
  status = ReadStatus(port_, 1);
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->leak);
  EXPECT_EQ(ReadVersion(port_, 1).value, 6553.5);
}

TEST_F(SimulatedDetectorTest, WritesChangeTheDetector) {
  EXPECT_TRUE(WriteSensitivity(port_, 1, 3));
  EXPECT_EQ(ReadSensitivity(port_, 1).value, 3);

  EXPECT_TRUE(WriteAddress(port_, 1, 7));
  EXPECT_FALSE(ProbeAddress(port_, 1)) << "the old address no longer answers";
  EXPECT_TRUE(ProbeAddress(port_, 7));

  EXPECT_TRUE(WriteBaudCode(port_, 7, 4));
  EXPECT_FALSE(ProbeAddress(port_, 7)) << "still at 9600 while the detector is at 19200";
  CloseCommPort(port_);
  port_ = OpenCommDevice(sim_.SlavePath(), 19200);
  EXPECT_TRUE(ProbeAddress(port_, 7));
}

TEST_F(SimulatedDetectorTest, SpoiledRepliesFailAndWellFormedOnesPass) {
  for (const char* fault : {"silent", "late", "bad-crc", "stray", "exception"}) {
    SCOPED_TRACE(fault);
    Console(std::string("fault ") + fault);
    EXPECT_FALSE(ReadStatus(port_, 1));
    // A late or stray reply lands in the queue after the exchange; only an open purges it.
    CloseCommPort(port_);
    std::this_thread::sleep_for(300ms);
    port_ = OpenCommDevice(sim_.SlavePath(), 9600);
  }
  Console("fault bytewise");
  EXPECT_TRUE(ReadStatus(port_, 1)) << "a reply that trickles in is still whole";
  Console("fault none");
  EXPECT_FALSE(ReadStatus(port_, 2)) << "nobody at address 2";
  EXPECT_TRUE(ReadStatus(port_, 1));
}

}  // namespace
