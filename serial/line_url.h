// Network lines named by URL wherever a device path is accepted: rfc2217://HOST:PORT (telnet
// with the COM-port option), socket://HOST:PORT (raw bytes to a gateway in transparent mode)
// and tcp://HOST[:PORT] (Modbus TCP to a protocol-converting gateway, port 502 by default).
// An IPv6 host goes in brackets. socket:// and tcp:// run at the gateway's own rate, which
// `?baud=N` may name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class LineUrlKind { kRfc2217, kSocket, kModbusTcp };

struct LineUrl {
  LineUrlKind kind = LineUrlKind::kSocket;
  std::string host;  // an IPv6 address without its brackets
  std::uint16_t port = 0;
  int gatewayBaud = 0;  // the rate ?baud= names; 0 when none does

  // Whether the line's rate is the gateway's, which no open of ours changes.
  bool RateFixed() const { return kind != LineUrlKind::kRfc2217; }
};

// Whether `path` is meant as a network line: it begins with one of the three schemes.
bool IsLineUrl(std::string_view path);

// The URL's parts, or, in `problem`, what is wrong with it ("no port").
struct LineUrlParse {
  std::optional<LineUrl> url;
  std::string problem;
};
LineUrlParse ParseLineUrl(std::string_view path);
