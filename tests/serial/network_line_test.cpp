// The network lines on loopback: through ser2net to the simulated detector in raw and RFC 2217
// mode, to the libmodbus Modbus TCP peer, and to stand-in servers that play a gateway's
// faults: one that refuses, one that never answers, one that drops the connection, one that
// mixes telnet commands and 0xFF into its replies.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "device/detector.h"
#include "device/exchange_texts.h"
#include "device/held_port.h"
#include "serial/comm_port.h"
#include "serial/rtu.h"
#include "tests/support/network_peers.h"
#include "tests/support/open_line.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t IAC = 255, DO = 253, WILL = 251, DONT = 254, SB = 250, SE = 240, NOP = 241,
                       ECHO = 1, BINARY = 0, COM_PORT = 44;

Clock::duration TimeToOpen(const std::string& url) {
  const auto start = Clock::now();
  OpenLine line(url, 9600);
  EXPECT_FALSE(line) << url;
  return Clock::now() - start;
}

// A reply to a read of `registers` registers, all holding `value`, from `address`.
Bytes ReadReply(std::uint8_t address, std::uint8_t registers, std::uint16_t value) {
  Bytes reply = {address, 0x03, static_cast<std::uint8_t>(2 * registers)};
  for (int i = 0; i < registers; ++i) {
    reply.push_back(static_cast<std::uint8_t>(value >> 8));
    reply.push_back(static_cast<std::uint8_t>(value & 0xFF));
  }
  const std::uint16_t crc = ModbusCrc16(reply.data(), reply.size());
  reply.push_back(static_cast<std::uint8_t>(crc >> 8));
  reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return reply;
}

// A transparent gateway with a detector at address 1 behind it whose registers all read
// `value`: each 8-byte request gets its reply.
void AnswerReads(int connection, std::uint16_t value, int requests = 1000) {
  for (int i = 0; i < requests; ++i) {
    const Bytes request = ReadFrom(connection, 8, 3s);
    if (request.size() < 8) return;
    WriteTo(connection, ReadReply(request[0], request[5], value));
  }
}

// ---- Through ser2net to the simulated detector ----

TEST(NetworkLineTest, Rfc2217SetsTheRateTheDetectorAnswersAt) {
  SimProcess sim({"--baud", "19200"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRfc2217, 9600);
  ASSERT_TRUE(gateway.Running());
  {
    OpenLine line(gateway.Url(), 19200);
    ASSERT_TRUE(line) << LastCommError().message;
    const auto version = ReadVersion(*line, 1);
    ASSERT_TRUE(version) << ExchangeSummary(version.outcome, false);
    EXPECT_DOUBLE_EQ(*version, 1.0);
    EXPECT_TRUE(WriteSensitivity(*line, 1, 3));
    EXPECT_EQ(ReadSensitivity(*line, 1).value, 3);
  }
  // The simulator answers only at its own rate: at 9600 nothing comes.
  OpenLine slow(gateway.Url(), 9600);
  ASSERT_TRUE(slow);
  EXPECT_EQ(ReadVersion(*slow, 1).outcome.result, ExchangeResult::kNoReply);
}

TEST(NetworkLineTest, SocketCarriesTheFramesAtTheGatewaysRate) {
  SimProcess sim({"--baud", "4800", "--leak", "1", "--alarm", "2"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw, 4800);
  ASSERT_TRUE(gateway.Running());
  // The rate asked for is not the line's to set: the gateway's is used.
  OpenLine line(gateway.Url(), 19200);
  ASSERT_TRUE(line) << LastCommError().message;
  const auto status = ReadStatus(*line, 1);
  ASSERT_TRUE(status) << ExchangeSummary(status.outcome, false);
  EXPECT_TRUE(status->leak);
  EXPECT_EQ(status->alarmType, 2);
  EXPECT_TRUE(WriteAddress(*line, 1, 7));
  EXPECT_TRUE(ProbeAddress(*line, 7));
}

TEST(NetworkLineTest, ANetworkLineResolvesWithItsRateAndNoIdentity) {
  const ResolvedPort fixed = ResolveCommDevice("socket://127.0.0.1:4001?baud=4800");
  EXPECT_TRUE(fixed.rateFixed);
  EXPECT_EQ(fixed.gatewayBaud, 4800);
  EXPECT_TRUE(fixed.identity.empty());
  EXPECT_TRUE(ResolveCommDevice("tcp://127.0.0.1").rateFixed);
  EXPECT_FALSE(ResolveCommDevice("rfc2217://127.0.0.1:4001").rateFixed);
}

// A COM link's target that is a URL is used as it stands, not as a path in the ports folder.
TEST(NetworkLineTest, AComLinkToAUrlOpensTheGateway) {
  SimProcess sim;
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRfc2217);
  ASSERT_TRUE(gateway.Running());
  TempPortsDir ports;
  ports.Link(5, gateway.Url());
  EXPECT_EQ(CommPortDevice(5), gateway.Url());
  const CommHandle port = OpenCommPort(5, 9600);
  ASSERT_TRUE(port) << LastCommError().message;
  EXPECT_TRUE(ReadVersion(port, 1));
  CloseCommPort(port);
}

// ---- Modbus TCP ----

TEST(NetworkLineTest, ModbusTcpRepliesAreJudgedAsRtuReplies) {
  ModbusTcpPeer peer;
  ASSERT_TRUE(peer.Running());
  OpenLine line(peer.Url(), 9600);
  ASSERT_TRUE(line) << LastCommError().message;
  const auto version = ReadVersion(*line, 1);
  ASSERT_TRUE(version) << ExchangeSummary(version.outcome, false);
  EXPECT_DOUBLE_EQ(*version, 1.0);
  EXPECT_FLOAT_EQ(*ReadVoltage(*line, 1), 12.4f);
  EXPECT_TRUE(WriteSensitivity(*line, 1, 1));
  EXPECT_EQ(ReadSensitivity(*line, 1).value, 1);
  // The reply to a register the peer does not hold is its exception, as on a serial line.
  EXPECT_EQ(RtuExchange(*line, {1, 0x03, 0, 20, 0, 1}, 7, 1000).result, ExchangeResult::kException);
}

TEST(NetworkLineTest, AGatewaysTargetThatDidNotRespondIsNamed) {
  ModbusTcpPeer peer;
  ASSERT_TRUE(peer.Running());
  OpenLine line(peer.Url(), 9600);
  ASSERT_TRUE(line);
  const auto version = ReadVersion(*line, 2);  // nobody at unit 2 behind the peer
  EXPECT_EQ(version.outcome.result, ExchangeResult::kException);
  EXPECT_EQ(version.outcome.exceptionCode, 0x0B);
  EXPECT_NE(ExchangeSummary(version.outcome, false).find("gateway target"), std::string::npos);
  EXPECT_NE(WhatToCheck(version.outcome, false).find("the gateway got no answer"),
            std::string::npos);
}

// A trace shows what went over the connection: the Modbus TCP frames, not the RTU ones.
TEST(NetworkLineTest, ATraceOfModbusTcpShowsTheFramesOnTheConnection) {
  ModbusTcpPeer peer;
  ASSERT_TRUE(peer.Running());
  std::mutex mutex;
  std::vector<std::pair<FrameDirection, Bytes>> frames;
  SetFrameObserver([&](const FrameEvent& event) {
    std::lock_guard lock(mutex);
    frames.emplace_back(event.direction, Bytes(event.bytes.begin(), event.bytes.end()));
  });
  {
    OpenLine line(peer.Url(), 9600);
    ASSERT_TRUE(line);
    ASSERT_TRUE(ReadVersion(*line, 1));
  }
  SetFrameObserver({});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].first, FrameDirection::kSent);
  EXPECT_EQ(frames[0].second,
            (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x03, 0x00, 0x01}));
  EXPECT_EQ(frames[1].first, FrameDirection::kReceived);
  EXPECT_EQ(frames[1].second,
            (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x0A}));
}

// A reply of an earlier transaction that comes late is no reply to this one.
TEST(NetworkLineTest, ALateReplyOfAnEarlierTransactionIsDropped) {
  StandInServer gateway([](int connection, int) {
    const Bytes request = ReadFrom(connection, 12, 3s);
    if (request.size() < 12) return;
    Bytes late = {0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x63};
    Bytes reply = {request[0], request[1], 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x0A};
    late.insert(late.end(), reply.begin(), reply.end());
    WriteTo(connection, late);
    ReadFrom(connection, 1, 2s);
  });
  OpenLine line(gateway.Url("tcp"), 9600);
  ASSERT_TRUE(line);
  const auto version = ReadVersion(*line, 1);
  ASSERT_TRUE(version) << ExchangeSummary(version.outcome, false);
  EXPECT_DOUBLE_EQ(*version, 1.0);
}

TEST(NetworkLineTest, AStreamThatIsNoModbusTcpIsAGarbledReply) {
  StandInServer gateway([](int connection, int) {
    ReadFrom(connection, 12, 3s);
    const std::string text = "HTTP/1.0 400 Bad Request\r\n\r\n";
    WriteTo(connection, Bytes(text.begin(), text.end()));
    ReadFrom(connection, 1, 2s);
  });
  OpenLine line(gateway.Url("tcp"), 9600);
  ASSERT_TRUE(line);
  EXPECT_EQ(ReadVersion(*line, 1).outcome.result, ExchangeResult::kTooLong);
}

// ---- Connections that do not come about ----

TEST(NetworkLineTest, ARefusedConnectionIsAPortFailureAtOnce) {
  RefusingPort refusing;
  const std::string url = "socket://127.0.0.1:" + std::to_string(refusing.port());
  EXPECT_LT(TimeToOpen(url), 1s);
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kConnectionRefused);
  EXPECT_NE(LastCommError().message.find("refused"), std::string::npos);
  EXPECT_EQ(LastCommError().device, url);

  // The port list learns it from that open, without connecting itself.
  TempPortsDir ports;
  ports.Link(3, url);
  EXPECT_EQ(InspectCommPort(3).kind, CommErrorKind::kConnectionRefused);
  ports.Link(4, "socket://127.0.0.1:1");
  EXPECT_EQ(InspectCommPort(4).kind, CommErrorKind::kNone) << "never tried";
}

TEST(NetworkLineTest, AGatewayThatDoesNotAcceptTimesOutInBoundedTime) {
  // A listener whose backlog is full drops further connection requests unanswered.
  std::uint16_t port = 0;
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  std::this_thread::sleep_for(100ms);
  const auto took = TimeToOpen("socket://127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kConnectionTimedOut) << LastCommError().message;
  EXPECT_GE(took, 2500ms);
  EXPECT_LT(took, 6s);
  for (const int filler : fillers) close(filler);
  close(listener);
}

TEST(NetworkLineTest, AHostThatIsNotFoundIsNamed) {
  EXPECT_LT(TimeToOpen("tcp://kl395-no-such-host.invalid"), 10s);
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kHostNotFound);
  EXPECT_NE(LastCommError().message.find("not found"), std::string::npos);
}

TEST(NetworkLineTest, AWrongUrlIsNotFoundWithWhatIsWrong) {
  EXPECT_FALSE(OpenCommDevice("rfc2217://127.0.0.1", 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kNotFound);
  EXPECT_NE(LastCommError().message.find("no port"), std::string::npos);
}

// ---- Gateways that misbehave ----

TEST(NetworkLineTest, AGatewayThatNeverAnswersIsNoReplyNotAHang) {
  StandInServer gateway([&](int connection, int) { ReadFrom(connection, 64, 3s); });
  OpenLine line(gateway.Url("socket"), 9600);
  ASSERT_TRUE(line);
  const auto start = Clock::now();
  EXPECT_EQ(ReadVersion(*line, 1).outcome.result, ExchangeResult::kNoReply);
  EXPECT_LT(Clock::now() - start, 1500ms);
  EXPECT_FALSE(CommLineGone(*line));
}

TEST(NetworkLineTest, AnRfc2217OpenToAServerThatSaysNothingEndsInBoundedTime) {
  StandInServer gateway([&](int connection, int) { ReadFrom(connection, 256, 4s); });
  const auto took = TimeToOpen(gateway.Url("rfc2217"));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kConfiguration);
  EXPECT_NE(LastCommError().message.find("no telnet answer"), std::string::npos);
  EXPECT_LT(took, 4s);
}

// The connection drops during a poll: the line is gone, and the held port connects anew at
// the next poll.
TEST(NetworkLineTest, AConnectionDroppedDuringAPollIsALineGoneThatRecovers) {
  StandInServer gateway([](int connection, int number) {
    if (number == 1) {
      AnswerReads(connection, 0, 2);
      ReadFrom(connection, 8, 3s);  // the third request, and the connection goes
      return;
    }
    AnswerReads(connection, 1);
  });
  HeldPort held;
  ASSERT_TRUE(held.Open(ResolveCommDevice(gateway.Url("socket")), 9600));
  for (int poll = 0; poll < 2; ++poll) {
    EXPECT_TRUE(ReadStatus(held.ForPoll(), 1)) << poll;
    EXPECT_FALSE(held.CheckLine());
  }
  const auto start = Clock::now();
  EXPECT_EQ(ReadStatus(held.ForPoll(), 1).outcome.result, ExchangeResult::kLineGone);
  EXPECT_LT(Clock::now() - start, 500ms) << "the drop ends the wait at once";
  EXPECT_TRUE(held.CheckLine());
  const auto status = ReadStatus(held.ForPoll(), 1);
  ASSERT_TRUE(status) << ExchangeSummary(status.outcome, false);
  EXPECT_TRUE(status->leak);
  held.Close();
}

TEST(NetworkLineTest, AGatewayThatStaysDownIsStillALineGone) {
  SimProcess sim;
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw);
  ASSERT_TRUE(gateway.Running());
  HeldPort held;
  ASSERT_TRUE(held.Open(ResolveCommDevice(gateway.Url()), 9600));
  ASSERT_TRUE(ReadStatus(held.ForPoll(), 1));
  gateway.Stop();
  EXPECT_FALSE(ReadStatus(held.ForPoll(), 1));
  EXPECT_TRUE(held.CheckLine());
  EXPECT_FALSE(held.ForPoll());
  EXPECT_EQ(held.WhyNotOpen().result, ExchangeResult::kLineGone) << "refused while it is down";
  ASSERT_TRUE(gateway.Start());
  EXPECT_TRUE(ReadStatus(held.ForPoll(), 1));
  held.Close();
}

// ---- RFC 2217 servers played by hand ----

struct TelnetServerLog {
  std::mutex mutex;
  Bytes received;
  void Add(const Bytes& bytes) {
    std::lock_guard lock(mutex);
    received.insert(received.end(), bytes.begin(), bytes.end());
  }
  Bytes Get() {
    std::lock_guard lock(mutex);
    return received;
  }
};

// Plays the server's side of the open: its own agreement first, as ser2net sends it, then
// the confirmations of the rate (as `rate`), data size, parity and stop size; never those
// of SET-CONTROL. Some data from before the purge comes first.
void OpenAsServer(int connection, std::uint32_t rate, TelnetServerLog& log) {
  WriteTo(connection, Bytes{IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, COM_PORT, 0x55, 0x66});
  // Our requests (9 bytes), six settings and the purge (52 bytes).
  log.Add(ReadFrom(connection, 9 + 52, 3s));
  WriteTo(connection, Bytes{IAC,
                            SB,
                            COM_PORT,
                            101,
                            static_cast<std::uint8_t>(rate >> 24),
                            static_cast<std::uint8_t>(rate >> 16),
                            static_cast<std::uint8_t>(rate >> 8),
                            static_cast<std::uint8_t>(rate),
                            IAC,
                            SE,
                            IAC,
                            SB,
                            COM_PORT,
                            102,
                            8,
                            IAC,
                            SE,
                            IAC,
                            SB,
                            COM_PORT,
                            103,
                            1,
                            IAC,
                            SE,
                            IAC,
                            SB,
                            COM_PORT,
                            104,
                            1,
                            IAC,
                            SE});
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

TEST(NetworkLineTest, Rfc2217OpensBinaryWithTheSettingsAndPurges) {
  TelnetServerLog log;
  StandInServer gateway([&](int connection, int) {
    OpenAsServer(connection, 2400, log);
    ReadFrom(connection, 1, 2s);
  });
  OpenLine line(gateway.Url("rfc2217"), 2400);
  ASSERT_TRUE(line) << LastCommError().message;
  EXPECT_EQ(WaitForInput(*line, 1, 0), 0u) << "what came before the purge is dropped";
  const Bytes received = log.Get();
  EXPECT_TRUE(Contains(received, {IAC, WILL, BINARY}));
  EXPECT_TRUE(Contains(received, {IAC, DO, BINARY}));
  EXPECT_TRUE(Contains(received, {IAC, WILL, COM_PORT}));
  EXPECT_TRUE(Contains(received, {IAC, SB, COM_PORT, 1, 0x00, 0x00, 0x09, 0x60, IAC, SE}));
  EXPECT_TRUE(Contains(received, {IAC, SB, COM_PORT, 2, 8, IAC, SE}));
  EXPECT_TRUE(Contains(received, {IAC, SB, COM_PORT, 3, 1, IAC, SE}));
  EXPECT_TRUE(Contains(received, {IAC, SB, COM_PORT, 4, 1, IAC, SE}));
  EXPECT_TRUE(Contains(received, {IAC, SB, COM_PORT, 5, 9, IAC, SE})) << "DTR off";
  EXPECT_TRUE(Contains(received, {IAC, SB, COM_PORT, 12, 3, IAC, SE})) << "purge both";
}

TEST(NetworkLineTest, ARateTheServerRefusesIsARefusedConfiguration) {
  TelnetServerLog log;
  StandInServer gateway([&](int connection, int) {
    OpenAsServer(connection, 9600, log);
    ReadFrom(connection, 1, 2s);
  });
  OpenLine line(gateway.Url("rfc2217"), 19200);
  EXPECT_FALSE(line);
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kConfiguration);
  EXPECT_NE(LastCommError().message.find("refused 19200 baud (it has 9600 baud)"),
            std::string::npos)
      << LastCommError().message;
}

// The reply's value holds 0xFF, doubled on the wire, and the server puts a negotiation, a
// modem-state notification and a NOP between its bytes; our request's 0xFF goes out doubled.
TEST(NetworkLineTest, TelnetCommandsAndDoubledFFsMidReplyLeaveTheReplyWhole) {
  TelnetServerLog log;
  StandInServer gateway([&](int connection, int) {
    OpenAsServer(connection, 9600, log);
    const Bytes request = ReadFrom(connection, 9, 3s);  // 01 06 00 08 00 FF FF + CRC
    log.Add(request);
    if (request.size() < 9) return;
    // The write's confirmation repeats the request: address 255 written to register 8.
    Bytes wire = {0x01, 0x06, IAC, WILL, ECHO,     0x00, 0x08, IAC, NOP, 0x00,
                  IAC,  IAC,  IAC, SB,   COM_PORT, 107,  0x30, IAC, SE};
    wire.push_back(request[7]);
    wire.push_back(request[8]);
    WriteTo(connection, wire);
    log.Add(ReadFrom(connection, 3, 2s));  // our refusal of the echo
  });
  OpenLine line(gateway.Url("rfc2217"), 9600);
  ASSERT_TRUE(line) << LastCommError().message;
  const Written write = WriteAddress(*line, 1, 255);
  EXPECT_TRUE(write) << ExchangeSummary(write.outcome, false);
  EXPECT_EQ(write.outcome.received, write.outcome.sent);
  std::this_thread::sleep_for(200ms);
  const Bytes received = log.Get();
  EXPECT_TRUE(Contains(received, {0x01, 0x06, 0x00, 0x08, 0x00, IAC, IAC}));
  EXPECT_TRUE(Contains(received, {IAC, DONT, ECHO}));
}

}  // namespace
