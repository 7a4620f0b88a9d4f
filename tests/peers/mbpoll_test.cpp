// The simulated detector checked by an independent master: mbpoll reads and writes its
// registers, and our operations agree with what mbpoll sees.

#include <map>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "device/detector.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"

namespace {

struct MbpollRun {
  int exitCode = -1;
  std::map<int, long> registers;  // "[reference]: value" lines of a read
  std::string output;
};

// mbpoll, once, in RTU mode at 8N1 (its default parity is even), references counted from 0.
// Values to write follow the device.
MbpollRun Mbpoll(const std::string& device, const std::string& options,
                 const std::string& values = "", int baud = 9600) {
  const CommandResult result =
      RunProgram(KL395_MBPOLL, Words("-m rtu -P none -0 -1 -o 1 -b " + std::to_string(baud) + " " +
                                     options + " " + device + " " + values));
  MbpollRun run{result.status, {}, result.output};
  static const std::regex kValueLine(R"(\[(\d+)\]:\s+(-?\d+))");
  for (std::sregex_iterator it(run.output.begin(), run.output.end(), kValueLine), end; it != end;
       ++it) {
    run.registers[std::stoi((*it)[1])] = std::stol((*it)[2]);
  }
  return run;
}

class MbpollPeerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(sim_.SlavePath().empty()); }
  const std::string& Device() const { return sim_.SlavePath(); }
  // One of our operations on the simulator, with the port open just for it.
  template <typename Operation>
  auto Ours(int baud, Operation operation) {
    const CommHandle port = OpenCommDevice(Device(), baud);
    EXPECT_TRUE(port);
    auto result = operation(port);
    CloseCommPort(port);
    return result;
  }

  SimProcess sim_{{"--version", "12", "--sensitivity", "2", "--voltage", "118"}};
};

TEST_F(MbpollPeerTest, ReadsTheRegisterMapOurOperationsRead) {
  ASSERT_TRUE(sim_.Command("leak 1"));
  ASSERT_TRUE(sim_.Command("alarm 3"));
  const MbpollRun run = Mbpoll(Device(), "-a 1 -t 4 -r 0 -c 5");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::map<int, long> expected = {{0, 1}, {1, 3}, {2, 2}, {3, 12}, {4, 118}};
  EXPECT_EQ(run.registers, expected) << run.output;

  const auto status = Ours(9600, [](CommHandle p) { return ReadStatus(p, 1); });
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->leak);
  EXPECT_EQ(status->alarmType, 3);
  const auto version = Ours(9600, [](CommHandle p) { return ReadVersion(p, 1); });
  ASSERT_TRUE(version);
  EXPECT_DOUBLE_EQ(*version, 1.2);
}

TEST_F(MbpollPeerTest, WritesEachSideMakesTheOtherSees) {
  ASSERT_EQ(Mbpoll(Device(), "-a 1 -t 4 -r 2", "1").exitCode, 0);
  EXPECT_EQ(Ours(9600, [](CommHandle p) { return ReadSensitivity(p, 1).value; }), 1);

  EXPECT_TRUE(Ours(9600, [](CommHandle p) { return WriteSensitivity(p, 1, 3); }));
  EXPECT_EQ(Mbpoll(Device(), "-a 1 -t 4 -r 2").registers[2], 3);

  EXPECT_TRUE(Ours(9600, [](CommHandle p) { return WriteAddress(p, 1, 9); }));
  EXPECT_NE(Mbpoll(Device(), "-a 1 -t 4 -r 4").exitCode, 0) << "address 1 is gone";
  EXPECT_EQ(Mbpoll(Device(), "-a 9 -t 4 -r 4").registers[4], 118);
}

TEST_F(MbpollPeerTest, BaudChangeIsSeenByThePeerAtTheNewRateOnly) {
  EXPECT_TRUE(Ours(9600, [](CommHandle p) { return WriteBaudCode(p, 1, 0); }));
  EXPECT_NE(Mbpoll(Device(), "-a 1 -t 4 -r 3").exitCode, 0);
  EXPECT_EQ(Mbpoll(Device(), "-a 1 -t 4 -r 3", "", 1200).registers[3], 12);
  EXPECT_TRUE(Ours(1200, [](CommHandle p) { return ProbeAddress(p, 1); }));
}

}  // namespace
