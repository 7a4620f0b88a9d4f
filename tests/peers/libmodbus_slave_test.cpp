// Our master against an independent slave: libmodbus answering in RTU mode on one
// pseudo-terminal, our port on another, and a bridge copying bytes between the two masters.
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "device/detector.h"
#include "serial/rtu.h"

namespace {

struct Pty {
  int master = -1;
  std::string path;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    path = ptsname(master);
  }
  ~Pty() { close(master); }
};

// A null-modem cable between two pseudo-terminals.
class PtyBridge {
 public:
  PtyBridge() : thread_([this] { Run(); }) {}
  ~PtyBridge() {
    stop_ = true;
    thread_.join();
  }
  const std::string& MasterSide() const { return a_.path; }
  const std::string& SlaveSide() const { return b_.path; }

 private:
  static void Copy(int from, int to) {
    std::uint8_t buffer[256];
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n > 0) {
      EXPECT_EQ(write(to, buffer, static_cast<std::size_t>(n)), n);
    }
  }
  void Run() {
    while (!stop_) {
      pollfd fds[2] = {{a_.master, POLLIN, 0}, {b_.master, POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      if (fds[0].revents & POLLIN) Copy(a_.master, b_.master);
      if (fds[1].revents & POLLIN) Copy(b_.master, a_.master);
      // With one side not open yet the master reports a hang-up; don't spin on it.
      if ((fds[0].revents | fds[1].revents) & POLLHUP) usleep(2000);
    }
  }
  Pty a_, b_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A libmodbus RTU slave at address 1 with holding registers 0 to 9, on its own thread.
class LibmodbusSlave {
 public:
  explicit LibmodbusSlave(const std::string& device)
      : context_(modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1)),
        registers_(modbus_mapping_new(0, 0, 10, 0)) {
    modbus_set_slave(context_, 1);
    modbus_set_indication_timeout(context_, 0, 50000);
    connected_ = modbus_connect(context_) == 0;
    thread_ = std::thread([this] { Serve(); });
  }
  ~LibmodbusSlave() {
    stop_ = true;
    thread_.join();
    modbus_close(context_);
    modbus_mapping_free(registers_);
    modbus_free(context_);
  }
  bool Connected() const { return connected_; }
  // Written before the exchange that reads it, read after the exchange that wrote it: the
  // exchange's own round trip orders the two threads.
  std::uint16_t* Registers() { return registers_->tab_registers; }

 private:
  void Serve() {
    std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (connected_ && !stop_) {
      const int length = modbus_receive(context_, query);
      if (length > 0) modbus_reply(context_, query, length, registers_);
    }
  }
  modbus_t* context_;
  modbus_mapping_t* registers_;
  bool connected_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class LibmodbusPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(slave_.Connected());
    port_ = OpenCommDevice(bridge_.MasterSide(), 9600);
    ASSERT_TRUE(port_);
  }
  void TearDown() override { CloseCommPort(port_); }

  PtyBridge bridge_;
  LibmodbusSlave slave_{bridge_.SlaveSide()};
  CommHandle port_;
};

TEST_F(LibmodbusPeerTest, ReadsEveryRegisterTheWayThePeerServesIt) {
  std::uint16_t* registers = slave_.Registers();
  registers[reg::kLeakState] = 0x0101;  // only bit 0 of the low byte counts
  registers[reg::kAlarmType] = 2;
  registers[reg::kSensitivity] = 3;
  registers[reg::kVersion] = 65535;
  registers[reg::kVoltage] = 124;

  auto status = ReadStatus(port_, 1);
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->leak);
  EXPECT_EQ(status->alarmType, 2);
  EXPECT_EQ(ReadSensitivity(port_, 1).value, 3);
  ASSERT_TRUE(ReadVersion(port_, 1));
  EXPECT_DOUBLE_EQ(*ReadVersion(port_, 1), 6553.5);
  ASSERT_TRUE(ReadVoltage(port_, 1));
  EXPECT_FLOAT_EQ(*ReadVoltage(port_, 1), 12.4f);
  EXPECT_TRUE(ProbeAddress(port_, 1));
}

TEST_F(LibmodbusPeerTest, WritesReachThePeersRegisters) {
  EXPECT_TRUE(WriteSensitivity(port_, 1, 1));
  EXPECT_TRUE(WriteBaudCode(port_, 1, 4));
  EXPECT_TRUE(WriteAddress(port_, 1, 255));
  EXPECT_EQ(slave_.Registers()[reg::kSensitivity], 1);
  EXPECT_EQ(slave_.Registers()[reg::kBaudCode], 4);
  EXPECT_EQ(slave_.Registers()[reg::kSlaveAddress], 255);
}

TEST_F(LibmodbusPeerTest, OtherSlavesAndUnmappedRegistersFail) {
  EXPECT_FALSE(ProbeAddress(port_, 2));   // the peer keeps quiet for another address
  EXPECT_TRUE(ProbeAddress(port_, 257));  // 257 goes out as 1
  // Ten registers are mapped; a read past them gets an exception reply, which fails.
  EXPECT_EQ(RtuExchange(port_, {1, 0x03, 0, 20, 0, 1}, 7, 1000).result, ExchangeResult::kException);
}

}  // namespace
