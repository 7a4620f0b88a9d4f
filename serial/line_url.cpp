#include "serial/line_url.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

struct Scheme {
  std::string_view prefix;
  LineUrlKind kind;
  std::uint16_t defaultPort;  // 0: the URL must name one
};

constexpr std::array<Scheme, 3> kSchemes = {{
    {"rfc2217://", LineUrlKind::kRfc2217, 0},
    {"socket://", LineUrlKind::kSocket, 0},
    {"tcp://", LineUrlKind::kModbusTcp, 502},
}};

// The rates a detector takes; a gateway named at another could not reach one.
constexpr std::array<int, 5> kGatewayRates = {1200, 2400, 4800, 9600, 19200};

const Scheme* SchemeOf(std::string_view path) {
  const auto scheme = std::ranges::find_if(
      kSchemes, [path](const Scheme& candidate) { return path.starts_with(candidate.prefix); });
  return scheme == kSchemes.end() ? nullptr : &*scheme;
}

template <typename Number>
std::optional<Number> WholeNumber(std::string_view text) {
  Number number{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

LineUrlParse Problem(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

// "host:port", "[v6]:port", or, where the scheme has a default port, the host alone.
LineUrlParse HostAndPort(std::string_view authority, const Scheme& scheme, LineUrl url) {
  std::string_view portText;
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return Problem("an IPv6 address without its ']'");
    url.host = authority.substr(1, close - 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return Problem("text after the IPv6 address");
    if (!rest.empty()) portText = rest.substr(1);
  } else {
    const auto colon = authority.rfind(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    if (url.host.find(':') != std::string::npos) return Problem("an IPv6 address needs brackets");
  }
  if (url.host.empty()) return Problem("no host");
  if (portText.empty() && scheme.defaultPort == 0) return Problem("no port");
  url.port = scheme.defaultPort;
  if (!portText.empty()) {
    const auto port = WholeNumber<std::uint16_t>(portText);
    if (!port || *port == 0) return Problem("port '" + std::string(portText) + "' is no TCP port");
    url.port = *port;
  }
  return {url, {}};
}

// The one query a URL may have: ?baud=N, the rate the gateway runs at.
std::string GatewayBaud(std::string_view query, LineUrl& url) {
  constexpr std::string_view kBaud = "baud=";
  if (!query.starts_with(kBaud)) return "'?" + std::string(query) + "' is not ?baud=RATE";
  if (!url.RateFixed()) return "rfc2217:// sets the rate itself and takes no ?baud=";
  const auto rate = WholeNumber<int>(query.substr(kBaud.size()));
  if (!rate || std::ranges::find(kGatewayRates, *rate) == kGatewayRates.end()) {
    return "?baud= takes 1200, 2400, 4800, 9600 or 19200";
  }
  url.gatewayBaud = *rate;
  return {};
}

}  // namespace

bool IsLineUrl(std::string_view path) {
  return SchemeOf(path) != nullptr;
}

LineUrlParse ParseLineUrl(std::string_view path) {
  const Scheme* scheme = SchemeOf(path);
  if (!scheme) return Problem("not rfc2217://, socket:// or tcp://");
  std::string_view rest = path.substr(scheme->prefix.size());
  std::string_view query;
  if (const auto mark = rest.find('?'); mark != std::string_view::npos) {
    query = rest.substr(mark + 1);
    rest = rest.substr(0, mark);
  }
  LineUrl url;
  url.kind = scheme->kind;
  LineUrlParse parse = HostAndPort(rest, *scheme, url);
  if (parse.url && !query.empty()) {
    if (std::string problem = GatewayBaud(query, *parse.url); !problem.empty()) {
      return Problem(std::move(problem));
    }
  }
  return parse;
}
