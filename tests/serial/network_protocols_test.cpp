// The network lines' protocols as pure functions of bytes: the URLs that name them, telnet
// with the COM-port option, and Modbus TCP framing. The vectors are written out from RFC 854,
// RFC 2217 and the Modbus TCP framing, not produced by the code under test.
#include <gtest/gtest.h>

#include <vector>

#include "serial/line_url.h"
#include "serial/mbap.h"
#include "serial/rtu.h"
#include "serial/telnet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- URLs ----

TEST(LineUrlTest, EachSchemeNamesItsKindHostAndPort) {
  const auto rfc2217 = ParseLineUrl("rfc2217://10.0.0.5:4001").url;
  ASSERT_TRUE(rfc2217);
  EXPECT_EQ(rfc2217->kind, LineUrlKind::kRfc2217);
  EXPECT_EQ(rfc2217->host, "10.0.0.5");
  EXPECT_EQ(rfc2217->port, 4001);
  EXPECT_FALSE(rfc2217->RateFixed());

  const auto raw = ParseLineUrl("socket://gateway.example:4002").url;
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->kind, LineUrlKind::kSocket);
  EXPECT_EQ(raw->host, "gateway.example");
  EXPECT_TRUE(raw->RateFixed());

  const auto modbus = ParseLineUrl("tcp://[::1]").url;
  ASSERT_TRUE(modbus);
  EXPECT_EQ(modbus->kind, LineUrlKind::kModbusTcp);
  EXPECT_EQ(modbus->host, "::1");
  EXPECT_EQ(modbus->port, 502) << "Modbus TCP's own port by default";
  EXPECT_EQ(ParseLineUrl("tcp://[::1]:1502").url->port, 1502);
}

TEST(LineUrlTest, BaudNamesTheRateOfAGatewayThatSetsItsOwn) {
  EXPECT_EQ(ParseLineUrl("socket://h:4001?baud=19200").url->gatewayBaud, 19200);
  EXPECT_EQ(ParseLineUrl("tcp://h?baud=1200").url->gatewayBaud, 1200);
  EXPECT_EQ(ParseLineUrl("socket://h:4001").url->gatewayBaud, 0);
}

TEST(LineUrlTest, WrongUrlsSayWhatIsWrong) {
  const std::pair<const char*, const char*> wrong[] = {
      {"rfc2217://h", "no port"},
      {"socket://:4001", "no host"},
      {"socket://h:0", "no TCP port"},
      {"socket://h:65536", "no TCP port"},
      {"socket://h:40x1", "no TCP port"},
      {"tcp://::1", "brackets"},
      {"tcp://[::1", "']'"},
      {"socket://h:4001?baud=9601", "takes 1200"},
      {"socket://h:4001?speed=9600", "?baud=RATE"},
      {"rfc2217://h:4001?baud=9600", "sets the rate itself"},
  };
  for (const auto& [url, problem] : wrong) {
    const LineUrlParse parse = ParseLineUrl(url);
    EXPECT_FALSE(parse.url) << url;
    EXPECT_NE(parse.problem.find(problem), std::string::npos) << url << ": " << parse.problem;
  }
}

TEST(LineUrlTest, OnlyTheThreeSchemesAreUrls) {
  EXPECT_TRUE(IsLineUrl("rfc2217://h:1"));
  EXPECT_TRUE(IsLineUrl("socket://"));
  EXPECT_TRUE(IsLineUrl("tcp://h"));
  EXPECT_FALSE(IsLineUrl("/dev/ttyUSB0"));
  EXPECT_FALSE(IsLineUrl("http://h"));
  EXPECT_FALSE(IsLineUrl("tcp:/h")) << "a path that merely looks like one";
}

// ---- Telnet ----

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240,
                       NOP = 241, ECHO = 1, SGA = 3, BINARY = 0, COM_PORT = 44;

struct Fed {
  Bytes data;
  std::vector<telnet::Command> commands;
};

Fed FeedInPieces(const Bytes& wire, std::size_t piece) {
  telnet::Reader reader;
  Fed fed;
  for (std::size_t at = 0; at < wire.size(); at += piece) {
    const std::size_t length = std::min(piece, wire.size() - at);
    reader.Feed(std::span(wire).subspan(at, length), fed.data, fed.commands);
  }
  return fed;
}

TEST(TelnetTest, DataGoesOutWithEveryFFDoubled) {
  EXPECT_EQ(telnet::EscapeData(Bytes{0x01, 0xFF, 0x02, 0xFF, 0xFF}),
            (Bytes{0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(telnet::EscapeData(Bytes{0x01, 0x03, 0x00, 0x03}), (Bytes{0x01, 0x03, 0x00, 0x03}));
}

// A reply whose value holds 0xFF, with a negotiation, a COM-port notification and a NOP
// between its bytes, however the reads cut it.
TEST(TelnetTest, CommandsMidReplyAreTakenOutAndDoubledFFsJoined) {
  const Bytes wire = {0x01, 0x03, IAC, WILL, SGA,  0x02, IAC, IAC,  IAC, SB, COM_PORT,
                      107,  0x00, IAC, SE,   0x0A, IAC,  NOP, 0x38, IAC, IAC};
  const Bytes data = {0x01, 0x03, 0x02, 0xFF, 0x0A, 0x38, 0xFF};
  for (std::size_t piece = 1; piece <= wire.size(); ++piece) {
    SCOPED_TRACE(piece);
    const Fed fed = FeedInPieces(wire, piece);
    EXPECT_EQ(fed.data, data);
    ASSERT_EQ(fed.commands.size(), 2u);
    EXPECT_EQ(fed.commands[0].verb, WILL);
    EXPECT_EQ(fed.commands[0].option, SGA);
    EXPECT_EQ(fed.commands[1].verb, SB);
    EXPECT_EQ(fed.commands[1].option, COM_PORT);
    EXPECT_EQ(fed.commands[1].payload, (Bytes{107, 0x00}));
  }
}

TEST(TelnetTest, ASubnegotiationKeepsItsDoubledFFsAsOne) {
  const Fed fed = FeedInPieces({IAC, SB, COM_PORT, 101, 0x00, 0x00, IAC, IAC, 0x10, IAC, SE}, 3);
  ASSERT_EQ(fed.commands.size(), 1u);
  EXPECT_EQ(fed.commands[0].payload, (Bytes{101, 0x00, 0x00, 0xFF, 0x10}));
  EXPECT_TRUE(fed.data.empty());
}

Bytes Answer(telnet::Options& options, std::uint8_t verb, std::uint8_t option) {
  Bytes answer;
  options.Receive({verb, option}, answer);
  return answer;
}

TEST(TelnetTest, TheLineAsksForBinaryBothWaysAndTheComPortOption) {
  telnet::Options options;
  EXPECT_EQ(options.Request(), (Bytes{IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, COM_PORT}));
  EXPECT_FALSE(options.Settled());
  // The server's agreement needs no answer: answering it would start a loop.
  EXPECT_TRUE(Answer(options, DO, BINARY).empty());
  EXPECT_TRUE(Answer(options, WILL, BINARY).empty());
  EXPECT_FALSE(options.Settled());
  EXPECT_TRUE(Answer(options, DO, COM_PORT).empty());
  EXPECT_TRUE(options.Settled());
  EXPECT_TRUE(options.Agreed());
  EXPECT_TRUE(Answer(options, DO, BINARY).empty()) << "already on";
}

TEST(TelnetTest, TheServersOwnOffersAreAnsweredOnceAndEchoIsRefused) {
  telnet::Options options;
  options.Request();
  EXPECT_EQ(Answer(options, WILL, SGA), (Bytes{IAC, DO, SGA}));
  EXPECT_TRUE(Answer(options, WILL, SGA).empty());
  // The server's echo would send our requests back to us as replies.
  EXPECT_EQ(Answer(options, WILL, ECHO), (Bytes{IAC, DONT, ECHO}));
  EXPECT_TRUE(Answer(options, WILL, ECHO).empty()) << "refused once, not again and again";
  EXPECT_EQ(Answer(options, DO, ECHO), (Bytes{IAC, WONT, ECHO}));
  // An option that was on and goes off is confirmed.
  Answer(options, WILL, BINARY);
  EXPECT_EQ(Answer(options, WONT, BINARY), (Bytes{IAC, DONT, BINARY}));
}

TEST(TelnetTest, ARefusedComPortOptionSettlesWithoutAgreement) {
  telnet::Options options;
  options.Request();
  Answer(options, DO, BINARY);
  Answer(options, WILL, BINARY);
  EXPECT_TRUE(Answer(options, DONT, COM_PORT).empty());
  EXPECT_TRUE(options.Settled());
  EXPECT_FALSE(options.Agreed());
}

TEST(TelnetTest, ComPortCommandsAreSubnegotiationsWithEscapedValues) {
  // SET-BAUDRATE 9600 = 0x00002580, four bytes, most significant first.
  EXPECT_EQ(telnet::ComPortCommand(1, Bytes{0x00, 0x00, 0x25, 0x80}),
            (Bytes{IAC, SB, COM_PORT, 1, 0x00, 0x00, 0x25, 0x80, IAC, SE}));
  EXPECT_EQ(telnet::ComPortCommand(1, Bytes{0x00, 0x00, 0x00, 0xFF}),
            (Bytes{IAC, SB, COM_PORT, 1, 0x00, 0x00, 0x00, IAC, IAC, IAC, SE}));
}

TEST(TelnetTest, TheDetectorsLineIsTheRateAnd8N1WithoutFlowControlOrDtr) {
  const auto settings = telnet::DetectorLineSettings(19200);
  ASSERT_EQ(settings.size(), 6u);
  const std::vector<std::pair<std::uint8_t, Bytes>> expected = {
      {1, {0x00, 0x00, 0x4B, 0x00}}, {2, {8}}, {3, {1}}, {4, {1}}, {5, {1}}, {5, {9}}};
  for (std::size_t i = 0; i < settings.size(); ++i) {
    EXPECT_EQ(settings[i].command, expected[i].first) << i;
    EXPECT_EQ(settings[i].value, expected[i].second) << i;
    // SET-CONTROL goes unconfirmed by a server whose terminal has no modem lines.
    EXPECT_EQ(settings[i].needed, settings[i].command != 5) << i;
  }
}

TEST(TelnetTest, TheServersConfirmationCarriesTheCommandPlus100) {
  const telnet::Command rate{SB, COM_PORT, {101, 0x00, 0x00, 0x25, 0x80}};
  const auto value = telnet::ConfirmationOf(rate, 1);
  ASSERT_TRUE(value);
  EXPECT_EQ(telnet::BigEndianValue(*value), 9600u);
  EXPECT_FALSE(telnet::ConfirmationOf(rate, 2));
  EXPECT_FALSE(telnet::ConfirmationOf({SB, 24, {101, 0, 0, 0x25, 0x80}}, 1)) << "another option";
}

// ---- Modbus TCP ----

TEST(MbapTest, ARequestCarriesTheAddressAsUnitAndThePduWithoutTheCrc) {
  // Read register 3 of slave 1, as the RTU frame and as Modbus TCP transaction 1.
  const Bytes rtu = {0x01, 0x03, 0x00, 0x03, 0x00, 0x01, 0x74, 0x0A};
  EXPECT_EQ(MbapRequest(rtu, 1),
            (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x00, 0x03, 0x00, 0x01}));
  EXPECT_EQ(MbapRequest(rtu, 0xABCD)->at(0), 0xAB);
  EXPECT_EQ(MbapRequest(rtu, 0xABCD)->at(1), 0xCD);
}

TEST(MbapTest, AFrameWithABadCrcOrTooShortIsNotSent) {
  EXPECT_FALSE(MbapRequest(Bytes{0x01, 0x03, 0x00, 0x03, 0x00, 0x01, 0x74, 0x0B}, 1));
  EXPECT_FALSE(MbapRequest(Bytes{0x01, 0x03, 0x74}, 1));
}

TEST(MbapTest, AReplyBecomesTheRtuFrameTheGatewaysLineCarried) {
  const Bytes reply = {0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x0A};
  const MbapScan scan = ScanMbapReply(reply, 7);
  EXPECT_EQ(scan.kind, MbapScan::Kind::kFrame);
  EXPECT_EQ(scan.length, reply.size());
  EXPECT_EQ(scan.rtu, (Bytes{0x01, 0x03, 0x02, 0x00, 0x0A, 0x38, 0x43}));
  const Bytes request = {0x01, 0x03, 0x00, 0x03, 0x00, 0x01, 0x74, 0x0A};
  EXPECT_EQ(ClassifyRtuReply(request, scan.rtu, 7, 7), ExchangeResult::kGood);
}

TEST(MbapTest, TheUnitIsJudgedAsTheAddressAndGatewayExceptionsAsExceptions) {
  const Bytes request = {0x01, 0x03, 0x00, 0x03, 0x00, 0x01, 0x74, 0x0A};
  const MbapScan otherUnit =
      ScanMbapReply(Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x02, 0x03, 0x02, 0x00, 0x0A}, 1);
  EXPECT_EQ(ClassifyRtuReply(request, otherUnit.rtu, 7, 7), ExchangeResult::kWrongAddress);
  // 0B: the gateway's target did not respond.
  const MbapScan noTarget =
      ScanMbapReply(Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x01, 0x83, 0x0B}, 1);
  ASSERT_EQ(noTarget.kind, MbapScan::Kind::kFrame);
  EXPECT_EQ(ClassifyRtuReply(request, noTarget.rtu, 7, 5), ExchangeResult::kException);
  EXPECT_EQ(noTarget.rtu[2], 0x0B);
}

TEST(MbapTest, HeadersThatDoNotFitAreToldApart) {
  const Bytes late = {0x00, 0x06, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x0A};
  const MbapScan scan = ScanMbapReply(late, 7);
  EXPECT_EQ(scan.kind, MbapScan::Kind::kOtherTransaction);
  EXPECT_EQ(scan.length, late.size());
  EXPECT_EQ(ScanMbapReply(Bytes{0x00, 0x07, 0x00, 0x01, 0x00, 0x05, 0x01}, 7).kind,
            MbapScan::Kind::kNotModbus)
      << "protocol 1";
  EXPECT_EQ(ScanMbapReply(Bytes{0x00, 0x07, 0x00, 0x00, 0x00, 0x01, 0x01}, 7).kind,
            MbapScan::Kind::kNotModbus)
      << "a length without a function code";
  EXPECT_EQ(ScanMbapReply(Bytes{0x00, 0x07, 0x00, 0x00, 0x01, 0x00, 0x01}, 7).kind,
            MbapScan::Kind::kNotModbus)
      << "a length past the longest PDU";
  EXPECT_EQ(ScanMbapReply(Bytes(late.begin(), late.end() - 1), 7).kind,
            MbapScan::Kind::kIncomplete);
  EXPECT_EQ(ScanMbapReply(Bytes{0x00, 0x07, 0x00}, 7).kind, MbapScan::Kind::kIncomplete);
}

}  // namespace
