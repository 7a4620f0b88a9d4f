// The simulator as a program, seen from the other end of its terminal through a plain
// termios descriptor, as a serial port user would open it.
#include "tests/support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "device/detector.h"
#include "serial/rtu.h"
#include "tests/support/temp_ports_dir.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Generous bounds: a reply is due at once, but the machine may be busy or under sanitizers.
constexpr milliseconds kReplyTimeout{3000};
// How long to listen before deciding that no reply is coming.
constexpr milliseconds kSilenceWait{300};

speed_t SpeedFor(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 19200:
      return B19200;
    default:
      return B9600;
  }
}

// Our end of the line: raw 8N1 at a baud rate, purged on opening.
class TestLine {
 public:
  TestLine(const std::string& path, int baud)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) return;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, SpeedFor(baud));
    cfsetospeed(&settings, SpeedFor(baud));
    tcsetattr(fd_, TCSANOW, &settings);
    tcflush(fd_, TCIOFLUSH);
  }
  ~TestLine() {
    if (fd_ >= 0) close(fd_);
  }
  TestLine(const TestLine&) = delete;
  TestLine& operator=(const TestLine&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  void Send(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // `count` bytes, or fewer if they do not all come within `timeout`.
  Bytes Receive(std::size_t count, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    Bytes received;
    while (received.size() < count && Clock::now() < deadline) {
      pollfd fd = {fd_, POLLIN, 0};
      const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
      if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
      std::uint8_t buffer[64];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - received.size()));
      if (n > 0) received.insert(received.end(), buffer, buffer + n);
    }
    return received;
  }

  // Sends the request and gives back the reply of `replyLength` bytes, or what came of it.
  Bytes Exchange(const RtuRequestHead& head, std::size_t replyLength,
                 milliseconds timeout = kReplyTimeout) {
    const RtuRequest request = BuildRtuRequest(head);
    Send(Bytes(request.begin(), request.end()));
    return Receive(replyLength, timeout);
  }

 private:
  int fd_;
};

RtuRequestHead ReadHead(std::uint8_t address, std::uint8_t reg, std::uint8_t count = 1) {
  return {address, 0x03, 0, reg, 0, count};
}

RtuRequestHead WriteHead(std::uint8_t address, std::uint8_t reg, std::uint8_t value) {
  return {address, 0x06, 0, reg, 0, value};
}

bool IsGood(const Bytes& reply, std::size_t length) {
  return IsGoodRtuReply(reply, length, static_cast<unsigned>(reply.size()));
}

// The processor time the process has used so far, from /proc.
milliseconds CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name, which is in parentheses and may hold blanks.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stol(field);  // user and system time
  }
  return milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
}

std::uint16_t Word(const Bytes& reply, std::size_t at) {
  return static_cast<std::uint16_t>(reply.at(at) << 8 | reply.at(at + 1));
}

TEST(SimProcess, AnswersAtItsOwnBaudOnly) {
  SimProcess sim({"--baud", "4800", "--voltage", "231"});
  ASSERT_FALSE(sim.SlavePath().empty());
  {
    TestLine line(sim.SlavePath(), 4800);
    const Bytes reply = line.Exchange(ReadHead(1, reg::kVoltage), 7);
    ASSERT_TRUE(IsGood(reply, 7));
    EXPECT_EQ(Word(reply, 3), 231);
  }
  {
    TestLine line(sim.SlavePath(), 9600);
    EXPECT_TRUE(line.Exchange(ReadHead(1, reg::kVoltage), 7, kSilenceWait).empty());
  }
  TestLine line(sim.SlavePath(), 4800);
  EXPECT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kVoltage), 7), 7));
}

TEST(SimProcess, NewAddressAndBaudApplyFromTheNextRequest) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  {
    TestLine line(sim.SlavePath(), 9600);
    const Bytes echo = line.Exchange(WriteHead(1, reg::kSlaveAddress, 7), 8);
    ASSERT_TRUE(IsGood(echo, 8));
    EXPECT_EQ(echo[0], 1);
    EXPECT_TRUE(line.Exchange(ReadHead(1, reg::kVoltage), 7, kSilenceWait).empty());
    ASSERT_TRUE(IsGood(line.Exchange(ReadHead(7, reg::kVoltage), 7), 7));
    // Code 0 is 1200 baud; the echo still comes at 9600.
    ASSERT_TRUE(IsGood(line.Exchange(WriteHead(7, reg::kBaudCode, 0), 8), 8));
    EXPECT_TRUE(line.Exchange(ReadHead(7, reg::kVoltage), 7, kSilenceWait).empty());
  }
  TestLine line(sim.SlavePath(), 1200);
  EXPECT_TRUE(IsGood(line.Exchange(ReadHead(7, reg::kVoltage), 7), 7));
}

TEST(SimProcess, ConsoleCommandsChangeWhatThePollSees) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  TestLine line(sim.SlavePath(), 9600);
  Bytes status = line.Exchange(ReadHead(1, reg::kLeakState, 2), 9);
  ASSERT_TRUE(IsGood(status, 9));
  EXPECT_EQ(Word(status, 3), 0);
  EXPECT_EQ(Word(status, 5), 0);

  EXPECT_EQ(sim.Command("leak 1"), "ok leak 1");
  EXPECT_EQ(sim.Command("alarm 3"), "ok alarm 3");
  EXPECT_EQ(sim.Command("what").value_or("").rfind("error: ", 0), 0u);
  EXPECT_EQ(sim.Command(std::string(5000, 'x')).value_or("").rfind("error: ", 0), 0u);
  status = line.Exchange(ReadHead(1, reg::kLeakState, 2), 9);
  ASSERT_TRUE(IsGood(status, 9));
  EXPECT_EQ(Word(status, 3), 1);
  EXPECT_EQ(Word(status, 5), 3);

  EXPECT_EQ(sim.Command("fault silent"), "ok fault silent");
  EXPECT_TRUE(line.Exchange(ReadHead(1, reg::kLeakState, 2), 9, kSilenceWait).empty());
  EXPECT_EQ(sim.Command("fault none"), "ok fault none");
  EXPECT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kLeakState, 2), 9), 9));
}

TEST(SimProcess, GarbageOnTheLineDoesNotWedgeIt) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  TestLine line(sim.SlavePath(), 9600);
  line.Send(Bytes{0x01, 0x03, 0x00});  // a request cut short
  line.Send(Bytes(40, 0xFF));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kVoltage), 7), 7));
}

TEST(SimProcess, SurvivesTheOtherSideOpeningAndClosingForEveryProbe) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  const auto start = Clock::now();
  for (int probe = 0; probe < 50; ++probe) {
    TestLine line(sim.SlavePath(), 9600);
    ASSERT_TRUE(line.IsOpen());
    ASSERT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kVoltage), 7), 7)) << "probe " << probe;
  }
  std::cout << "50 probes took "
            << std::chrono::duration_cast<milliseconds>(Clock::now() - start).count() << " ms\n";

  // With the line closed it waits without spinning.
  const milliseconds before = CpuTime(sim.pid());
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_LT(CpuTime(sim.pid()) - before, milliseconds(200));
}

TEST(SimProcess, BytewiseReplyArrivesCompleteAndSpreadOut) {
  SimProcess sim({"--fault", "bytewise"});
  ASSERT_FALSE(sim.SlavePath().empty());
  TestLine line(sim.SlavePath(), 9600);
  const auto start = Clock::now();
  const Bytes reply = line.Exchange(ReadHead(1, reg::kVoltage), 7);
  // Six gaps of 20 ms lie between the first byte and the last.
  EXPECT_GE(Clock::now() - start, milliseconds(110));
  EXPECT_TRUE(IsGood(reply, 7));
}

TEST(SimProcess, LateReplyComesAfterAOneSecondWait) {
  SimProcess sim({"--fault", "late"});
  ASSERT_FALSE(sim.SlavePath().empty());
  TestLine line(sim.SlavePath(), 9600);
  EXPECT_TRUE(line.Exchange(ReadHead(1, reg::kVoltage), 7, milliseconds(1000)).empty());
  EXPECT_TRUE(IsGood(line.Receive(7, kReplyTimeout), 7));
}

TEST(SimProcess, ComLinkAppearsInThePortsFolderAndGoesOnExit) {
  const TempPortsDir ports;  // the default folder follows XDG_CONFIG_HOME
  const fs::path folder = fs::path(std::getenv("XDG_CONFIG_HOME")) / "kl395" / "ports";
  SimProcess sim({"--com", "5"});
  ASSERT_FALSE(sim.SlavePath().empty());
  EXPECT_EQ(fs::read_symlink(folder / "com5"), sim.SlavePath());

  const fs::path elsewhere = folder.parent_path() / "elsewhere";
  SimProcess other({"--com", "5", "--ports-dir", elsewhere.string()});
  ASSERT_FALSE(other.SlavePath().empty());
  EXPECT_EQ(fs::read_symlink(elsewhere / "com5"), other.SlavePath());

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "com5")));
  EXPECT_EQ(other.Stop(SIGINT), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(elsewhere / "com5")));
}

TEST(SimProcess, ComLinkDoesNotReplaceALiveLink) {
  const TempPortsDir ports;
  ports.Link(2, "/dev/null");
  const fs::path link = fs::path(std::getenv("XDG_CONFIG_HOME")) / "kl395" / "ports" / "com2";
  SimProcess sim({"--com", "2"});
  EXPECT_TRUE(sim.SlavePath().empty());
  EXPECT_EQ(sim.Wait(kReplyTimeout), 1);
  EXPECT_EQ(fs::read_symlink(link), "/dev/null");

  fs::remove(link);
  ports.Link(2, "/nonexistent/left-by-a-crash");
  SimProcess again({"--com", "2"});
  ASSERT_FALSE(again.SlavePath().empty());
  EXPECT_EQ(fs::read_symlink(link), again.SlavePath());
}

TEST(SimProcess, EndsCleanlyOnQuitAndAtTheEndOfItsInput) {
  SimProcess quitting;
  ASSERT_FALSE(quitting.SlavePath().empty());
  EXPECT_EQ(quitting.Command("quit"), "ok quit");
  EXPECT_EQ(quitting.Wait(kReplyTimeout), 0);

  SimProcess closing;
  ASSERT_FALSE(closing.SlavePath().empty());
  closing.CloseInput();
  EXPECT_EQ(closing.Wait(kReplyTimeout), 0);
}

}  // namespace
