// The POSIX serial line through real pseudo-terminals: the test plays the detector on the
// master side, and COM numbers reach the terminals through a temporary ports folder.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "search/search_worker.h"
#include "serial/comm_port.h"
#include "serial/rtu.h"
#include "tests/support/port_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_ports_dir.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr RtuRequestHead kReadVoltage = {0x01, 0x03, 0x00, 0x04, 0x00, 0x01};
const Bytes kVoltageRequest = {0x01, 0x03, 0x00, 0x04, 0x00, 0x01, 0xC5, 0xCB};

Bytes WithCrc(Bytes frame) {
  const std::uint16_t crc = ModbusCrc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}
const Bytes kVoltageReply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x78});

// Wall time and this thread's CPU time of one call: a wait must sleep, not spin.
struct Timed {
  std::chrono::milliseconds wall;
  std::chrono::milliseconds cpu;
};
template <typename F>
Timed Time(F&& call) {
  const auto cpuNow = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
  };
  const auto wallStart = Clock::now();
  const auto cpuStart = cpuNow();
  call();
  using std::chrono::duration_cast;
  return {duration_cast<std::chrono::milliseconds>(Clock::now() - wallStart),
          duration_cast<std::chrono::milliseconds>(cpuNow() - cpuStart)};
}

class CommPortTest : public ::testing::Test {
 protected:
  CommPortTest() { ports_.Link(1, pty_.PortPath()); }
  ~CommPortTest() override { CloseCommPort(port_); }

  // Opens COM1, the detector's line, at `baudRate`; fails the test if it does not open.
  void Open(int baudRate = 9600) {
    port_ = OpenCommPort(1, baudRate);
    ASSERT_TRUE(port_) << LastCommError().message;
  }

  TempPortsDir ports_;
  PtyPair pty_;
  CommHandle port_;
};

TEST_F(CommPortTest, ComNumbersFollowTheirLinks) {
  PtyPair com12;
  ports_.Link(12, com12.PortPath());
  EXPECT_EQ(CommPortDevice(12), com12.PortPath());
  Open();
  const CommHandle port12 = OpenCommPort(12, 9600);
  ASSERT_TRUE(port12) << LastCommError().message;

  const Bytes one = {0x01}, twelve = {0x12};
  EXPECT_EQ(WriteComm(port12, twelve), 1u);
  EXPECT_EQ(WriteComm(port_, one), 1u);
  EXPECT_EQ(com12.Receive(1), twelve);
  EXPECT_EQ(pty_.Receive(1), one);
  CloseCommPort(port12);
}

TEST_F(CommPortTest, ComNumbersWithoutALinkAreTheDevicesPresentInOrder) {
  EXPECT_EQ(CommPortDevice(2), "") << "the tests' device folder is empty";
  PtyPair usb, acm;
  std::filesystem::create_symlink(acm.PortPath(), ports_.DeviceFolder() / "ttyACM0");
  std::filesystem::create_symlink(usb.PortPath(), ports_.DeviceFolder() / "ttyUSB0");
  EXPECT_EQ(CommPortDevice(1), pty_.PortPath()) << "its link names COM1";
  EXPECT_EQ(CommPortDevice(2), (ports_.DeviceFolder() / "ttyACM0").string())
      << "the second device: USB adapters first";
  EXPECT_EQ(CommPortDevice(3), "");
}

// COM n is resolved once for a whole scan: when its link goes away mid-scan, the next probe
// must not open whatever device COM n now falls through to.
TEST_F(CommPortTest, SearchKeepsTheDeviceItsComNumberNamedAtTheStart) {
  PtyPair other;
  std::filesystem::create_symlink(other.PortPath(), ports_.DeviceFolder() / "ttyUSB0");
  const PortOpener probeOpener = OpenDeviceOfPort(1);
  std::filesystem::remove(ports_.Folder() / "com1");
  ASSERT_EQ(CommPortDevice(1), (ports_.DeviceFolder() / "ttyUSB0").string());

  CommHandle probe = probeOpener(1, 9600);
  ASSERT_TRUE(probe) << LastCommError().message;
  EXPECT_EQ(WriteComm(probe, Bytes{0x42}), 1u);
  EXPECT_EQ(pty_.Receive(1), Bytes{0x42}) << "the device named at the start";
  EXPECT_TRUE(other.Receive(1, 100ms).empty());
  CloseCommPort(probe);

  const PortOpener nothing = OpenDeviceOfPort(5);  // no device at the start
  EXPECT_FALSE(nothing(5, 9600));
}

TEST_F(CommPortTest, PortOpenElsewhereIsBusyUntilClosed) {
  Open();
  EXPECT_FALSE(OpenCommPort(1, 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kBusy);
  EXPECT_NE(LastCommError().message.find(pty_.PortPath()), std::string::npos);

  CloseCommPort(port_);
  port_ = OpenCommPort(1, 9600);
  EXPECT_TRUE(port_) << "closing must release the port: " << LastCommError().message;
}

TEST_F(CommPortTest, PortReadByAnotherProgramIsBusyAndNamesIt) {
  {
    const PortHolder reader(pty_.PortPath(), O_RDONLY);
    ASSERT_GT(reader.pid(), 0);
    EXPECT_FALSE(OpenCommPort(1, 9600));
    const CommError& error = LastCommError();
    EXPECT_EQ(error.kind, CommErrorKind::kBusy);
    EXPECT_EQ(error.holderPid, reader.pid());
    EXPECT_EQ(error.holderCommand, "sleep");
    EXPECT_NE(error.message.find("sleep (pid " + std::to_string(reader.pid()) + ")"),
              std::string::npos)
        << error.message;

    const CommError inspected = InspectCommPort(1);
    EXPECT_EQ(inspected.kind, CommErrorKind::kBusy) << "seen without opening the port";
    EXPECT_EQ(inspected.holderPid, reader.pid());
    EXPECT_EQ(inspected.device, pty_.PortPath());
  }
  // One that only writes cannot take our replies.
  const PortHolder writer(pty_.PortPath(), O_WRONLY);
  ASSERT_GT(writer.pid(), 0);
  EXPECT_EQ(InspectCommPort(1).kind, CommErrorKind::kNone);
  Open();
}

// Root's opens pass another program's exclusive flag; ours must not, and must leave that
// flag as it found it.
TEST_F(CommPortTest, PortMadeExclusiveByAnotherIsBusyAndStaysExclusive) {
  const int other = ::open(pty_.PortPath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  EXPECT_FALSE(OpenCommPort(1, 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kBusy) << LastCommError().message;
  int exclusive = 0;
  ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "the other program's flag was cleared";

  ASSERT_EQ(::ioctl(other, TIOCNXCL), 0);
  ::close(other);
  Open();
}

TEST_F(CommPortTest, InspectionTellsMissingAndForbiddenPortsApart) {
  ports_.Link(3, "/dev/kl395-no-such-device");
  EXPECT_EQ(InspectCommPort(3).kind, CommErrorKind::kNotFound);
  EXPECT_EQ(InspectCommPort(4).kind, CommErrorKind::kNotFound) << "no device at all";
  EXPECT_EQ(InspectCommPort(1).kind, CommErrorKind::kNone);
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to look as another user";

  // As the unprivileged user "nobody", with the port made a USB adapter's usual
  // crw-rw---- root:dialout, and the ports folder open to all.
  const group* dialout = ::getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "no dialout group";
  ASSERT_EQ(::chown(pty_.PortPath().c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(pty_.PortPath().c_str(), 0660), 0);
  std::filesystem::permissions(ports_.Folder().parent_path().parent_path(),
                               std::filesystem::perms(0755));
  int result[2];
  ASSERT_EQ(::pipe(result), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(result[0]);
    const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
    const auto describe = [](const CommError& error) {
      return std::to_string(static_cast<int>(error.kind)) + " " + error.group + ";";
    };
    const std::string inspected = describe(InspectCommPort(1));
    const bool opened = static_cast<bool>(OpenCommPort(1, 9600));
    const std::string report =
        dropped && !opened ? inspected + describe(LastCommError()) : "not refused";
    [[maybe_unused]] const auto ignored = ::write(result[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(result[1]);
  char text[64] = {};
  [[maybe_unused]] const auto got = ::read(result[0], text, sizeof text - 1);
  ::close(result[0]);
  ::waitpid(child, nullptr, 0);
  const std::string refused = std::to_string(static_cast<int>(CommErrorKind::kPermission));
  EXPECT_EQ(std::string(text), refused + " dialout;" + refused + " dialout;")
      << "seen alike by inspection and by the open";
}

TEST_F(CommPortTest, MissingPortIsNotFound) {
  ports_.Link(3, "/dev/kl395-no-such-device");
  EXPECT_FALSE(OpenCommPort(3, 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kNotFound);
  EXPECT_NE(LastCommError().message.find("kl395-no-such-device"), std::string::npos);
  EXPECT_FALSE(OpenCommPort(0, 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kNotFound);
}

TEST_F(CommPortTest, SetsTheDetectorsLineSettingsAtEachRate) {
  const std::pair<int, speed_t> rates[] = {
      {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};
  for (const auto& [rate, speed] : rates) {
    SCOPED_TRACE(rate);
    Open(rate);
    const termios line = pty_.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), speed);
    EXPECT_EQ(cfgetispeed(&line), speed);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
              CS8 | CLOCAL | CREAD);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ISIG | ECHO | IEXTEN), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    CloseCommPort(port_);
  }
}

TEST_F(CommPortTest, OtherRatesAreRefusedAndLeaveThePortFree) {
  EXPECT_FALSE(OpenCommPort(1, 38400));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kConfiguration);
  Open();
}

TEST_F(CommPortTest, NotATerminalIsRefused) {
  const auto plainFile = ports_.Folder() / "plain-file";
  std::ofstream(plainFile) << "not a terminal";
  ports_.Link(2, plainFile);
  EXPECT_FALSE(OpenCommPort(2, 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kNotSerial);
}

// Interrupt, line-feed, carriage-return, flow-control and erase characters among them.
TEST_F(CommPortTest, EveryByteValuePassesUnalteredBothWays) {
  pty_.RestoreInitialSettings();
  ASSERT_NE(pty_.LineSettings().c_lflag & ISIG, 0u) << "the kernel's default is not cooked";
  Open();
  Bytes all(256);
  for (int value = 0; value < 256; ++value) all[value] = static_cast<std::uint8_t>(value);

  EXPECT_EQ(WriteComm(port_, all), all.size());
  EXPECT_EQ(pty_.Receive(all.size() + 1, 300ms), all);
  pty_.Send(all);
  Bytes read(all.size());
  EXPECT_EQ(ReadComm(port_, read), all.size());
  EXPECT_EQ(read, all);
}

TEST_F(CommPortTest, OpenPurgesStaleInput) {
  pty_.Send(Bytes{0xAA, 0xBB, 0xCC});
  ASSERT_TRUE(pty_.WaitForQueuedAtPort(3));
  Open();
  EXPECT_EQ(pty_.QueuedAtPort(), 0u);
  EXPECT_EQ(WaitForInput(port_, 1, 0), 0u);
}

TEST_F(CommPortTest, WaitForInputReturnsTheQueueAtOnceOrAtTheTimeOut) {
  Open();
  unsigned queued = 0;
  const Timed silent = Time([&] { queued = WaitForInput(port_, 7, 500); });
  EXPECT_EQ(queued, 0u);
  EXPECT_GE(silent.wall, 500ms);
  EXPECT_LT(silent.wall, 800ms);
  EXPECT_LT(silent.cpu, silent.wall / 2);

  pty_.Send(Bytes(9, 0x55));
  ASSERT_TRUE(pty_.WaitForQueuedAtPort(9));
  const Timed ready = Time([&] { queued = WaitForInput(port_, 7, 500); });
  EXPECT_EQ(queued, 9u);
  EXPECT_GE(ready.wall, 2ms);
  EXPECT_LT(ready.wall, 100ms);
}

TEST_F(CommPortTest, ReadEndsAtItsTotalOrIntervalTimeOut) {
  Open();
  Bytes reply(7);
  std::size_t read = 0;
  const Timed silent = Time([&] { read = ReadComm(port_, reply); });
  EXPECT_EQ(read, 0u);
  EXPECT_GE(silent.wall, 40ms) << "5 ms + 5 ms per byte";
  EXPECT_LT(silent.wall, 200ms);

  // A long read would allow 505 ms in all, but ends 100 ms after the last byte.
  pty_.Send(Bytes(10, 0x55));
  Bytes many(100);
  const Timed gap = Time([&] { read = ReadComm(port_, many); });
  EXPECT_EQ(read, 10u);
  EXPECT_GE(gap.wall, 100ms);
  EXPECT_LT(gap.wall, 400ms);
  EXPECT_LT(gap.cpu, gap.wall / 2);
  EXPECT_FALSE(CommLineGone(port_)) << "time-outs leave the line as it was";
}

// The detector: reads the request, then answers as `answer` says.
class DetectorExchangeTest : public CommPortTest {
 protected:
  void Serve(std::function<void()> answer) {
    detector_ = std::jthread([this, answer] {
      request_ = pty_.Receive(8);
      answer();
    });
  }
  void TearDown() override {
    if (detector_.joinable()) detector_.join();
    EXPECT_EQ(request_, kVoltageRequest);
  }

  std::jthread detector_;
  Bytes request_;
};

TEST_F(DetectorExchangeTest, GoodReplyIsAccepted) {
  Open();
  Serve([this] { pty_.Send(kVoltageReply); });
  const ExchangeOutcome outcome = RtuExchange(port_, kReadVoltage, 7, 500);
  ASSERT_TRUE(outcome.good());
  EXPECT_EQ(outcome.reply->Register(0), 120);
}

TEST_F(DetectorExchangeTest, OutcomeTellsWhatWentOverTheLine) {
  Open();
  Serve([this] {
    std::this_thread::sleep_for(30ms);
    pty_.Send(kVoltageReply);
  });
  const ExchangeOutcome outcome = RtuExchange(port_, kReadVoltage, 7, 500);
  ASSERT_TRUE(outcome.good());
  EXPECT_EQ(outcome.sent, kVoltageRequest);
  EXPECT_EQ(outcome.received, kVoltageReply);
  EXPECT_EQ(outcome.queued, 7u);
  ASSERT_TRUE(outcome.replyTime);
  EXPECT_GE(*outcome.replyTime, 20ms) << "30 ms, less what scheduling may cost";
  EXPECT_LT(*outcome.replyTime, 300ms);

  const ExchangeOutcome silent = RtuExchange(port_, kReadVoltage, 7, 100);
  request_ = pty_.Receive(8);
  EXPECT_EQ(silent.result, ExchangeResult::kNoReply);
  EXPECT_FALSE(silent.replyTime);
}

// A two-wire adapter without echo suppression: the request comes back before the reply.
TEST_F(DetectorExchangeTest, LocalEchoIsReadAndCheckedBeforeTheReply) {
  Open();
  Serve([this] {
    pty_.Send(request_);
    pty_.Send(kVoltageReply);
  });
  EXPECT_EQ(RtuExchange(port_, kReadVoltage, 7, 500).result, ExchangeResult::kEcho)
      << "not expected: it fails";
  detector_.join();

  CloseCommPort(port_);
  Open();
  SetCommLocalEcho(port_, true);
  Serve([this] {
    pty_.Send(request_);
    pty_.Send(kVoltageReply);
  });
  const ExchangeOutcome echoed = RtuExchange(port_, kReadVoltage, 7, 500);
  ASSERT_TRUE(echoed.good()) << static_cast<int>(echoed.result);
  EXPECT_EQ(echoed.reply->Register(0), 120);
  detector_.join();
  EXPECT_EQ(echoed.received.size(), 15u) << "the echo, then the reply";

  Serve([this] {
    pty_.Send(Bytes(8, 0x55));
    pty_.Send(kVoltageReply);
  });
  EXPECT_EQ(RtuExchange(port_, kReadVoltage, 7, 500).result, ExchangeResult::kWrongEcho);
}

// A port set to end silent waits skips the read after a wait to which nothing came, and
// only then: what did come is still read and judged.
TEST_F(DetectorExchangeTest, SilenceEndsTheWaitOnlyWhereSet) {
  int reads = 0;
  SetFrameObserver([&](const FrameEvent& event) {
    if (event.direction == FrameDirection::kReceived) ++reads;
  });
  Open();
  EXPECT_FALSE(RtuExchange(port_, kReadVoltage, 7, 50).good());
  EXPECT_EQ(reads, 1) << "read after the wait, as a port does by default";
  request_ = pty_.Receive(8);

  SetCommSilenceEndsWait(port_, true);
  EXPECT_TRUE(CommSilenceEndsWait(port_));
  EXPECT_EQ(RtuExchange(port_, kReadVoltage, 7, 50).result, ExchangeResult::kNoReply);
  EXPECT_EQ(reads, 1) << "no read after a silent wait";
  request_ = pty_.Receive(8);

  Serve([this] { pty_.Send(Bytes(kVoltageReply.begin(), kVoltageReply.begin() + 3)); });
  const ExchangeOutcome cut = RtuExchange(port_, kReadVoltage, 7, 200);
  SetFrameObserver({});
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(cut.result, ExchangeResult::kShort);
  EXPECT_EQ(cut.received.size(), 3u);

  CloseCommPort(port_);
  Open();
  EXPECT_FALSE(CommSilenceEndsWait(port_)) << "off when a port opens";
}

TEST_F(DetectorExchangeTest, TraceSeesEveryWriteAndReadInOrder) {
  struct Seen {
    FrameDirection direction;
    Bytes bytes;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Seen> seen;
  SetFrameObserver([&](const FrameEvent& event) {
    seen.push_back({event.direction, Bytes(event.bytes.begin(), event.bytes.end()), event.at});
  });
  Open();
  Serve([this] { pty_.Send(kVoltageReply); });
  ASSERT_TRUE(RtuExchange(port_, kReadVoltage, 7, 500).good());
  SetFrameObserver({});
  detector_.join();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].direction, FrameDirection::kSent);
  EXPECT_EQ(seen[0].bytes, kVoltageRequest);
  EXPECT_EQ(seen[1].direction, FrameDirection::kReceived);
  EXPECT_EQ(seen[1].bytes, kVoltageReply);
  EXPECT_LE(seen[0].at, seen[1].at);

  Serve([this] { pty_.Send(kVoltageReply); });
  ASSERT_TRUE(RtuExchange(port_, kReadVoltage, 7, 500).good());
  EXPECT_EQ(seen.size(), 2u) << "nobody observes any more";
}

// A stray byte queued with the reply spoils that exchange and stays queued; the next exchange
// discards it before its request, so one burst of noise costs one exchange, not every one
// after it.
TEST_F(DetectorExchangeTest, StrayByteSpoilsOneExchangeOnly) {
  Open();
  Serve([this] {
    Bytes withStray = kVoltageReply;
    withStray.push_back(0x00);
    pty_.Send(withStray);
  });
  EXPECT_EQ(RtuExchange(port_, kReadVoltage, 7, 500).result, ExchangeResult::kTooLong);
  EXPECT_EQ(pty_.QueuedAtPort(), 1u) << "only the expected length is read";
  detector_.join();

  Serve([this] { pty_.Send(kVoltageReply); });
  const ExchangeOutcome next = RtuExchange(port_, kReadVoltage, 7, 500);
  EXPECT_TRUE(next.good());
  EXPECT_EQ(next.stale, Bytes{0x00});
}

// An exception reply is shorter than the reply waited for, so the wait runs to its end; the
// reply time is still when its last byte came.
TEST_F(DetectorExchangeTest, ReplyTimeIsWhenTheLastByteCame) {
  Open();
  Serve([this] {
    std::this_thread::sleep_for(20ms);
    pty_.Send(WithCrc({0x01, 0x83, 0x04}));
  });
  const ExchangeOutcome outcome = RtuExchange(port_, kReadVoltage, 7, 600);
  EXPECT_EQ(outcome.result, ExchangeResult::kException);
  ASSERT_TRUE(outcome.replyTime);
  EXPECT_GE(*outcome.replyTime, 10ms);
  EXPECT_LT(*outcome.replyTime, 400ms) << "not the end of the 600 ms wait";
}

// A reply that comes after its exchange gave up is never taken for the next one's.
TEST_F(DetectorExchangeTest, LateReplyIsDiscardedBeforeTheNextRequest) {
  Open();
  EXPECT_EQ(RtuExchange(port_, kReadVoltage, 7, 50).result, ExchangeResult::kNoReply);
  request_ = pty_.Receive(8);
  pty_.Send(kVoltageReply);  // that request's reply, late
  ASSERT_TRUE(pty_.WaitForQueuedAtPort(7));

  const ExchangeOutcome next = RtuExchange(port_, kReadVoltage, 7, 200);
  EXPECT_EQ(next.result, ExchangeResult::kNoReply) << "the late reply is not this one's";
  EXPECT_EQ(next.stale, kVoltageReply);
  EXPECT_EQ(pty_.Receive(8), kVoltageRequest);
}

TEST_F(CommPortTest, PulledLineFailsPromptlyWithoutSpinning) {
  Open();
  pty_.Pull();
  std::size_t count = 1;
  const Timed write = Time([&] { count = WriteComm(port_, kVoltageRequest); });
  EXPECT_EQ(count, 0u);
  EXPECT_LT(write.wall, 100ms) << "the write time-out would be 500 ms";

  Bytes many(200);
  const Timed read = Time([&] { count = ReadComm(port_, many); });
  EXPECT_EQ(count, 0u);
  EXPECT_LT(read.wall, 100ms) << "the read time-out would be 1005 ms";

  const Timed wait = Time([&] { count = WaitForInput(port_, 7, 300); });
  EXPECT_EQ(count, 0u);
  EXPECT_LT(wait.wall, 100ms) << "nothing more can come: no wait to its time-out";

  ExchangeOutcome outcome;
  const Timed exchange = Time([&] { outcome = RtuExchange(port_, kReadVoltage, 7, 300); });
  EXPECT_LT(exchange.wall, 700ms);
  EXPECT_TRUE(CommLineGone(port_));
  EXPECT_EQ(outcome.result, ExchangeResult::kLineGone) << "not a mere time-out";
}

// An adapter pulled while the reply is awaited: the wait ends there, not at its time-out.
TEST_F(DetectorExchangeTest, LinePulledDuringTheWaitEndsIt) {
  Open();
  Serve([this] {
    std::this_thread::sleep_for(100ms);
    pty_.Pull();
  });
  ExchangeOutcome outcome;
  const Timed exchange = Time([&] { outcome = RtuExchange(port_, kReadVoltage, 7, 5000); });
  EXPECT_LT(exchange.wall, 2500ms);
  EXPECT_EQ(outcome.result, ExchangeResult::kLineGone);
}

// A port chosen once is that device: a terminal that takes the name of one that has gone is
// another device to --device, to the link that named the gone one and to a search's probes.
// Only a link made anew names a device anew, and while COM1's link is missing COM1 is
// missing, though the device list's first device would be COM1 without a link.
TEST(ResolvedPortTest, AnotherTerminalUnderTheSameNameIsNotTheChosenPort) {
  TempPortsDir ports;
  auto gone = std::make_unique<PtyPair>();
  const std::string name = gone->PortPath();
  ports.Link(1, name);
  const ResolvedPort byPath = ResolveCommDevice(name);
  ResolvedPort byLink = ResolveCommPort(1);
  const PortOpener probe = OpenDeviceOfPort(1);
  const CommHandle before = OpenResolvedPort(byPath, 9600);
  ASSERT_TRUE(before) << LastCommError().message;
  CloseCommPort(before);

  // A terminal's creation time is kept to the kernel's clock tick.
  std::this_thread::sleep_for(50ms);
  gone.reset();
  std::vector<std::unique_ptr<PtyPair>> below;
  const std::unique_ptr<PtyPair> newcomer = PtyPairNamed(name, below, 10s);
  ASSERT_TRUE(newcomer) << "no new terminal took the name " << name;

  const auto expectReplaced = [&](CommHandle handle, const char* how) {
    EXPECT_FALSE(handle) << how;
    CloseCommPort(handle);
    EXPECT_EQ(LastCommError().kind, CommErrorKind::kReplaced) << how;
    EXPECT_EQ(LastCommError().message, "another device is now " + name) << how;
  };
  expectReplaced(OpenResolvedPort(byPath, 9600), "by its path");
  expectReplaced(ReopenResolvedPort(byLink, 9600), "by the link that named it");
  expectReplaced(probe(1, 9600), "by a search's probe");

  PtyPair listed;
  std::filesystem::create_symlink(listed.PortPath(), ports.DeviceFolder() / "ttyUSB0");
  std::filesystem::remove(ports.Folder() / "com1");
  EXPECT_FALSE(ReopenResolvedPort(byLink, 9600)) << "fell through to the device list";
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kNotFound);

  std::this_thread::sleep_for(50ms);  // as above, for the link's change time
  ports.Link(1, name);
  const CommHandle followed = ReopenResolvedPort(byLink, 9600);
  ASSERT_TRUE(followed) << "a link made anew is followed: " << LastCommError().message;
  EXPECT_EQ(WriteComm(followed, Bytes{0x42}), 1u);
  EXPECT_EQ(newcomer->Receive(1), Bytes{0x42});
  CloseCommPort(followed);
  EXPECT_TRUE(listed.Receive(1, 100ms).empty());
}

TEST_F(CommPortTest, ClosedHandleFailsCleanly) {
  Open();
  const CommHandle stale = port_;
  CloseCommPort(port_);
  Bytes reply(7);
  EXPECT_EQ(WriteComm(stale, kVoltageRequest), 0u);
  EXPECT_EQ(ReadComm(stale, reply), 0u);
  EXPECT_EQ(WaitForInput(stale, 7, 10), 0u);
  EXPECT_FALSE(RtuExchange(stale, kReadVoltage, 7, 10).good());
  CloseCommPort(stale);
  EXPECT_TRUE(pty_.Receive(1, 50ms).empty()) << "nothing reached the line";
}

}  // namespace
