// The simulator as a program, seen from the other end of its terminal through a plain
// termios descriptor, as a serial port user would open it.
#include "tests/support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "device/detector.h"
#include "serial/rtu.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tools/sim/detector_model.h"

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

Bytes Request(const RtuRequestHead& head) {
  const RtuRequest request = BuildRtuRequest(head);
  return Bytes(request.begin(), request.end());
}

enum class Purge { kYes, kNo };

// Our end of the line: raw 8N1 at a baud rate, purged on opening unless a test looks for what
// came before.
class TestLine {
 public:
  TestLine(const std::string& path, int baud, Purge purge = Purge::kYes)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) return;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, SpeedFor(baud));
    cfsetospeed(&settings, SpeedFor(baud));
    tcsetattr(fd_, TCSANOW, &settings);
    if (purge == Purge::kYes) tcflush(fd_, TCIOFLUSH);
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
    Send(Request(head));
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

// Waits up to `timeout` for the process to end, killing it if it does not. Its exit code, or
// -1 when it ended by a signal or had to be killed.
int WaitForExit(pid_t pid, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the simulator on an input that ends at once, so that it ends as soon as it has
// started; its exit code with what it wrote on standard output and error.
CommandResult RunSimToItsEnd(const std::vector<std::string>& args) {
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return {};
  close(input[1]);
  const pid_t pid = SpawnProgram(
      KL395_SIM_PATH, args,
      {{STDIN_FILENO, input[0]}, {STDOUT_FILENO, output[1]}, {STDERR_FILENO, output[1]}});
  close(input[0]);
  close(output[1]);
  CommandResult result;
  const auto deadline = Clock::now() + kReplyTimeout;
  char buffer[256];
  for (pollfd fd = {output[0], POLLIN, 0}; Clock::now() < deadline;) {
    if (poll(&fd, 1, 100) <= 0) continue;
    const ssize_t count = read(output[0], buffer, sizeof buffer);
    if (count <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(count));
  }
  close(output[0]);
  if (pid > 0) result.status = WaitForExit(pid, kReplyTimeout);
  return result;
}

// Sends `requests` until the simulator reports `expected` frames heard, for frames that get no
// reply to wait for; the last count reported.
std::string WaitForRequests(SimProcess& sim, int expected) {
  const std::string wanted = "ok requests " + std::to_string(expected);
  std::string answer;
  for (const auto deadline = Clock::now() + kReplyTimeout; Clock::now() < deadline;) {
    answer = sim.Command("requests").value_or("");
    if (answer == wanted) break;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return answer;
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

TEST(SimProcess, EveryConsoleLineGetsOneAnswerLine) {
  using namespace std::string_literals;
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  const std::pair<std::string, std::string> lines[] = {
      {"wh\0at"s, "error: cannot read 'wh\\x00at'"},
      {"leak \0"s, "error: bad value '\\x00'"},
      {"fault \x1b[2J", "error: unknown fault '\\x1B[2J'"},
      {"\xff\xfe\x01", "error: cannot read '\\xFF\\xFE\\x01'"},
  };
  for (const auto& [line, start] : lines) {
    EXPECT_EQ(sim.Command(line).value_or("(no answer)").rfind(start, 0), 0u) << start;
    EXPECT_EQ(sim.Command("leak 1"), "ok leak 1") << "after " << start;
  }
}

TEST(SimProcess, RequestsCountsEveryFrameHeard) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  EXPECT_EQ(sim.Command("requests"), "ok requests 0");
  // A frame is counted from its first byte, so each waits for the silence that ends the last.
  constexpr milliseconds kBetweenFrames{50};
  {
    TestLine line(sim.SlavePath(), 9600);
    ASSERT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kVoltage), 7), 7));
    EXPECT_EQ(sim.Command("requests"), "ok requests 1");
    line.Send(Request(ReadHead(2, reg::kVoltage)));  // another address
    EXPECT_EQ(WaitForRequests(sim, 2), "ok requests 2");
    std::this_thread::sleep_for(kBetweenFrames);
    line.Send(Bytes{0x01, 0x03, 0x00});  // a request cut short
    EXPECT_EQ(WaitForRequests(sim, 3), "ok requests 3");
    std::this_thread::sleep_for(kBetweenFrames);
  }
  TestLine slow(sim.SlavePath(), 4800);  // another rate
  slow.Send(Request(ReadHead(1, reg::kVoltage)));
  EXPECT_EQ(WaitForRequests(sim, 4), "ok requests 4");
  std::this_thread::sleep_for(kSilenceWait);
  EXPECT_EQ(sim.Command("requests"), "ok requests 4");
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

// Well-formed replies with good CRCs that do not fit the request, each fault chosen on the
// console of one running simulator.
TEST(SimProcess, LyingFaultsSendWellFormedRepliesThatDoNotFit) {
  SimProcess sim({"--voltage", "121"});
  ASSERT_FALSE(sim.SlavePath().empty());
  {
    TestLine line(sim.SlavePath(), 9600);
    EXPECT_EQ(sim.Command("fault wrong-address"), "ok fault wrong-address");
    Bytes reply = line.Exchange(ReadHead(1, reg::kVoltage), 7);
    ASSERT_TRUE(IsGood(reply, 7));
    EXPECT_EQ(reply[0], kOtherAddress);
    EXPECT_EQ(Word(reply, 3), 121);

    EXPECT_EQ(sim.Command("fault wrong-value"), "ok fault wrong-value");
    EXPECT_EQ(line.Exchange(WriteHead(1, reg::kSensitivity, 3), 8),
              Request(WriteHead(1, reg::kSensitivity, 4)));

    EXPECT_EQ(sim.Command("fault wrong-count"), "ok fault wrong-count");
    reply = line.Exchange(ReadHead(1, reg::kLeakState, 2), 9);
    ASSERT_TRUE(IsGood(reply, 9));
    EXPECT_EQ(reply[2], 16);
    reply = line.Exchange(ReadHead(1, reg::kSensitivity), 7);
    ASSERT_TRUE(IsGood(reply, 7));
    EXPECT_EQ(reply[2], 8);
    EXPECT_EQ(Word(reply, 3), 2) << "the write confirmed with another value was not carried out";

    EXPECT_EQ(sim.Command("fault answer-all"), "ok fault answer-all");
    reply = line.Exchange(ReadHead(42, reg::kVoltage), 7);
    ASSERT_TRUE(IsGood(reply, 7));
    EXPECT_EQ(reply[0], 1);
  }
  // A rate the detector is not at, and an address that is not its own.
  TestLine slow(sim.SlavePath(), 1200);
  const Bytes reply = slow.Exchange(ReadHead(200, reg::kVoltage), 7);
  ASSERT_TRUE(IsGood(reply, 7));
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(sim.Command("fault none"), "ok fault none");
  EXPECT_TRUE(slow.Exchange(ReadHead(200, reg::kVoltage), 7, kSilenceWait).empty());
}

TEST(SimProcess, BurstFollowsTheNextReplyOnce) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  TestLine line(sim.SlavePath(), 9600);
  EXPECT_EQ(sim.Command("burst 5 170"), "ok burst 5 170");
  const Bytes reply = line.Exchange(ReadHead(1, reg::kVoltage), 7 + 5);
  ASSERT_EQ(reply.size(), 12u);
  EXPECT_TRUE(IsGood(Bytes(reply.begin(), reply.begin() + 7), 7));
  EXPECT_EQ(Bytes(reply.begin() + 7, reply.end()), Bytes(5, 0xAA));
  EXPECT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kVoltage), 7), 7));
  EXPECT_TRUE(line.Receive(1, kSilenceWait).empty()) << "once only";

  // A request that gets no reply leaves it waiting.
  EXPECT_EQ(sim.Command("burst 3"), "ok burst 3 0");
  EXPECT_EQ(sim.Command("fault silent"), "ok fault silent");
  EXPECT_TRUE(line.Exchange(ReadHead(1, reg::kVoltage), 1, kSilenceWait).empty());
  EXPECT_EQ(sim.Command("fault none"), "ok fault none");
  const Bytes later = line.Exchange(ReadHead(1, reg::kVoltage), 7 + 3);
  ASSERT_EQ(later.size(), 10u);
  EXPECT_EQ(Bytes(later.begin() + 7, later.end()), Bytes(3, 0x00));
  EXPECT_TRUE(line.Receive(1, kSilenceWait).empty());
}

// The simulator's line opened through our serial layer, as the tools open it.
class LayerPort {
 public:
  LayerPort(const std::string& path, int baud) : handle_(OpenCommDevice(path, baud)) {}
  ~LayerPort() { CloseCommPort(handle_); }
  LayerPort(const LayerPort&) = delete;
  LayerPort& operator=(const LayerPort&) = delete;

  CommHandle handle() const { return handle_; }

 private:
  CommHandle handle_;
};

TEST(SimProcess, EachFaultShowsAsItsFailureClassInTheExchangeOutcome) {
  using enum ExchangeResult;
  // Between two exchanges of one case, for whatever a fault sends late to land first.
  constexpr milliseconds kBetweenExchanges{200};
  struct Case {
    const char* fault;
    std::vector<ExchangeResult> results;  // of ReadStatus exchanges one after the other
    std::uint8_t exceptionCode = 0;
    std::size_t staleAtLast = 0;  // bytes the last exchange found left and discarded
  };
  const Case cases[] = {
      {"none", {kGood}},
      {"silent", {kNoReply}},
      // The late reply is left for the next exchange, which discards it before its request.
      {"late", {kNoReply, kNoReply}, 0, 9},
      {"bad-crc", {kBadCrc}},
      {"stray", {kTooLong}},
      // The extra byte comes after the reply is read; the next exchange discards it.
      {"stray-late", {kGood, kGood}, 0, 1},
      {"exception", {kException}, kDeviceFailure},
      {"bytewise", {kGood}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    SimProcess sim({"--fault", c.fault});
    ASSERT_FALSE(sim.SlavePath().empty());
    const LayerPort port(sim.SlavePath(), 9600);
    ASSERT_TRUE(port.handle());
    for (std::size_t i = 0; i < c.results.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(kBetweenExchanges);
      const auto status = ReadStatus(port.handle(), 1);
      const ExchangeOutcome& outcome = status.outcome;
      EXPECT_EQ(outcome.result, c.results[i]) << "exchange " << i;
      EXPECT_EQ(status.value.has_value(), outcome.good()) << "exchange " << i;
      EXPECT_EQ(outcome.exceptionCode, c.exceptionCode) << "exchange " << i;
      if (i + 1 == c.results.size()) {
        EXPECT_EQ(outcome.stale.size(), c.staleAtLast);
      }
    }
  }
}

TEST(SimProcess, EchoingAdapterIsGoodOnlyWhenLocalEchoIsExpected) {
  SimProcess sim;
  ASSERT_FALSE(sim.SlavePath().empty());
  EXPECT_EQ(sim.Command("fault echo"), "ok fault echo");
  {
    const LayerPort port(sim.SlavePath(), 9600);
    ASSERT_TRUE(port.handle());
    EXPECT_EQ(ReadStatus(port.handle(), 1).outcome.result, ExchangeResult::kEcho);
  }
  // Opened again, so that nothing of the last exchange is left queued.
  const LayerPort port(sim.SlavePath(), 9600);
  ASSERT_TRUE(port.handle());
  SetCommLocalEcho(port.handle(), true);
  const ExchangeOutcome answered = ReadStatus(port.handle(), 1).outcome;
  EXPECT_EQ(answered.result, ExchangeResult::kGood);
  EXPECT_EQ(answered.received.size(), answered.sent.size() + 9);  // the echo, then the reply
  // The adapter echoes a request to nobody all the same.
  const ExchangeOutcome nobody = ReadStatus(port.handle(), 2).outcome;
  EXPECT_EQ(nobody.result, ExchangeResult::kNoReply);
  EXPECT_EQ(nobody.received, nobody.sent);
}

// Reads the version at the address on a port opened afresh.
Exchanged<double> VersionAt(const std::string& path, int baud, int address) {
  const LayerPort port(path, baud);
  if (!port.handle()) return {};
  return ReadVersion(port.handle(), address);
}

// A reply came, garbled on the line.
::testing::AssertionResult Garbled(const ExchangeOutcome& outcome) {
  using enum ExchangeResult;
  const ExchangeResult result = outcome.result;
  if (result == kBadCrc || result == kShort || result == kTooLong) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "received " << HexBytes(outcome.received);
}

TEST(SimProcess, DetectorsOnOneLineEachAnswerTheirOwnAndCollideAtOneAddress) {
  // At 19200 baud, which the other two take from the first.
  SimProcess sim({"--baud", "19200", "--version", "10", "--also", "2:21", "--also", "1:11"});
  ASSERT_FALSE(sim.SlavePath().empty());
  const auto version = VersionAt(sim.SlavePath(), 19200, 2);
  ASSERT_TRUE(version);
  EXPECT_DOUBLE_EQ(*version, 2.1);

  EXPECT_TRUE(Garbled(VersionAt(sim.SlavePath(), 19200, 1).outcome));

  // Both detectors at 1 take the new address, though their echoes of the request collide.
  {
    const LayerPort port(sim.SlavePath(), 19200);
    ASSERT_TRUE(port.handle());
    EXPECT_TRUE(Garbled(WriteAddress(port.handle(), 1, 7).outcome));
  }
  EXPECT_EQ(VersionAt(sim.SlavePath(), 19200, 1).outcome.result, ExchangeResult::kNoReply);
  EXPECT_TRUE(Garbled(VersionAt(sim.SlavePath(), 19200, 7).outcome));
  EXPECT_TRUE(VersionAt(sim.SlavePath(), 19200, 2));
}

TEST(SimProcess, AlikeDetectorsAtOneAddressStillGarbleTheirReplies) {
  SimProcess sim({"--also", "1"});
  ASSERT_FALSE(sim.SlavePath().empty());
  EXPECT_TRUE(Garbled(VersionAt(sim.SlavePath(), 9600, 1).outcome));
}

TEST(SimProcess, ComLinkAppearsInThePortsFolderAndGoesOnExit) {
  const TempPortsDir ports;  // the default folder follows XDG_CONFIG_HOME
  const fs::path folder = fs::path(std::getenv("XDG_CONFIG_HOME")) / "kl395" / "ports";
  SimProcess sim({"--com", "5"});
  ASSERT_FALSE(sim.SlavePath().empty());
  EXPECT_EQ(fs::read_symlink(folder / "com5"), sim.SlavePath());

  const fs::path elsewhere = folder.parent_path() / "elsewhere";
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SimProcess other({"--com", "5", "--ports-dir", elsewhere.string()});
    ASSERT_FALSE(other.SlavePath().empty());
    EXPECT_EQ(fs::read_symlink(elsewhere / "com5"), other.SlavePath());
    EXPECT_EQ(other.Stop(signal), 0) << strsignal(signal);
    EXPECT_FALSE(fs::exists(fs::symlink_status(elsewhere / "com5"))) << strsignal(signal);
  }

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "com5")));
}

TEST(SimProcess, ComLinkLeavesALinkPointedElsewhereMeanwhile) {
  const TempPortsDir ports;
  const fs::path link = ports.Folder() / "com3";
  SimProcess sim({"--com", "3", "--ports-dir", ports.Folder().string()});
  ASSERT_FALSE(sim.SlavePath().empty());
  fs::remove(link);
  ports.Link(3, "/dev/null");
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_EQ(fs::read_symlink(link), "/dev/null");
}

TEST(SimProcess, ComLinkNeverReplacesWhatIsAlreadyThere) {
  struct Case {
    std::string name;
    std::function<void(const fs::path& entry)> make;
    std::string described;  // in the refusal
  };
  const auto linkTo = [](std::string target) {
    return [target](const fs::path& entry) { fs::create_symlink(target, entry); };
  };
  const Case cases[] = {
      {"a live link", linkTo("/dev/null"), "(a link to /dev/null)"},
      {"a link to an unplugged adapter", linkTo("/dev/ttyUSB9-unplugged"),
       "(a link to /dev/ttyUSB9-unplugged, which is not there now)"},
      {"a relative link", linkTo("ttyACM7"), "(a link to ttyACM7, which is not there now)"},
      {"a file", [](const fs::path& entry) { std::ofstream(entry) << "keep"; }, "(a file)"},
      {"a folder", [](const fs::path& entry) { fs::create_directory(entry); }, "(a folder)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempPortsDir ports;
    const fs::path entry = ports.Folder() / "com2";
    c.make(entry);
    const fs::file_status before = fs::symlink_status(entry);
    std::error_code notALink;
    const fs::path targetBefore = fs::read_symlink(entry, notALink);

    const CommandResult result = RunSimToItsEnd({"--com", "2"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find(entry.string() + " already exists " + c.described),
              std::string::npos)
        << result.output;
    EXPECT_EQ(fs::symlink_status(entry).type(), before.type());
    EXPECT_EQ(fs::read_symlink(entry, notALink), targetBefore);
  }
}

// Started with standard streams closed, the simulator must not get its terminal on one of
// them, or its path, console answers and --verbose log would go onto the line (or into its
// own stop pipe).
TEST(SimProcess, WorksWithStandardStreamsClosed) {
  const std::vector<std::vector<int>> closedSets = {{1}, {2}, {1, 2}, {0, 1, 2}};
  for (const auto& closed : closedSets) {
    std::string redirections;
    for (const int fd : {0, 1, 2}) {
      const bool isClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
      if (isClosed) redirections += " " + std::to_string(fd) + ">&-";
      if (!isClosed && fd < 2) redirections += fd == 0 ? " </dev/null" : " >/dev/null";
    }
    SCOPED_TRACE("closed:" + redirections);
    const TempPortsDir ports;
    const fs::path link = ports.Folder() / "com4";
    const pid_t pid =
        SpawnProgram("/bin/sh",
                     {"-c", "exec \"$0\" \"$@\"" + redirections, KL395_SIM_PATH, "--verbose",
                      "--com", "4", "--ports-dir", ports.Folder().string()},
                     {});
    ASSERT_GT(pid, 0);
    std::error_code missing;
    fs::path slave;
    for (const auto deadline = Clock::now() + kReplyTimeout;
         slave.empty() && Clock::now() < deadline;) {
      slave = fs::read_symlink(link, missing);
      std::this_thread::sleep_for(milliseconds(5));
    }
    if (slave.empty()) {
      ADD_FAILURE() << "no link";
      WaitForExit(pid, milliseconds(0));
      continue;
    }
    TestLine line(slave.string(), 9600, Purge::kNo);
    EXPECT_TRUE(line.Receive(1, kSilenceWait).empty());
    for (int request = 0; request < 2; ++request) {
      EXPECT_TRUE(IsGood(line.Exchange(ReadHead(1, reg::kVoltage), 7), 7)) << request;
      EXPECT_TRUE(line.Receive(1, kSilenceWait).empty()) << request;
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitForExit(pid, kReplyTimeout), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  }
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
