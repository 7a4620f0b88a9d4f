// The network lines through Winsock, against the servers run-under-wine.sh starts on loopback:
// ser2net in front of simulated detectors in RFC 2217 (KL395_RFC2217_URL, a detector at
// 19200 baud) and raw mode (KL395_SOCKET_URL, at 9600), and the libmodbus Modbus TCP peer
// (KL395_MODBUS_TCP_URL).
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "device/detector.h"
#include "device/exchange_texts.h"
#include "serial/comm_port.h"
#include "tests/support/open_line.h"

namespace {

std::string Url(const char* variable) {
  const char* url = std::getenv(variable);
  return url ? url : "";
}

TEST(Win32NetworkLine, Rfc2217SetsTheRateTheDetectorAnswersAt) {
  const std::string url = Url("KL395_RFC2217_URL");
  ASSERT_FALSE(url.empty()) << "KL395_RFC2217_URL is not set";
  {
    OpenLine line(url, 19200);
    ASSERT_TRUE(line) << LastCommError().message;
    const auto version = ReadVersion(*line, 1);
    ASSERT_TRUE(version) << ExchangeSummary(version.outcome, false);
    EXPECT_DOUBLE_EQ(*version, 1.1);
  }
  OpenLine slow(url, 9600);
  ASSERT_TRUE(slow) << LastCommError().message;
  EXPECT_EQ(ReadVersion(*slow, 1).outcome.result, ExchangeResult::kNoReply);
}

TEST(Win32NetworkLine, SocketAndModbusTcpReadTheDetector) {
  const std::string raw = Url("KL395_SOCKET_URL");
  const std::string modbus = Url("KL395_MODBUS_TCP_URL");
  ASSERT_FALSE(raw.empty() || modbus.empty()) << "KL395_SOCKET_URL or KL395_MODBUS_TCP_URL unset";
  OpenLine socketLine(raw, 9600);
  ASSERT_TRUE(socketLine) << LastCommError().message;
  EXPECT_DOUBLE_EQ(ReadVersion(*socketLine, 1).value.value_or(0), 1.2);
  OpenLine modbusLine(modbus, 9600);
  ASSERT_TRUE(modbusLine) << LastCommError().message;
  EXPECT_FLOAT_EQ(ReadVoltage(*modbusLine, 1).value.value_or(0), 12.4f);
  EXPECT_EQ(ReadVersion(*modbusLine, 2).outcome.exceptionCode, 0x0B);
}

// A port bound without listening refuses every connection.
TEST(Win32NetworkLine, ARefusedConnectionIsNamed) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET bound = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  EXPECT_FALSE(OpenCommDevice(url, 9600));
  EXPECT_EQ(LastCommError().kind, CommErrorKind::kConnectionRefused) << LastCommError().message;
  closesocket(bound);
  WSACleanup();
}

}  // namespace
