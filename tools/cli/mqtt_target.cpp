#include "tools/cli/mqtt_target.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "tools/text/printable_text.h"

namespace {

std::optional<int> ParsePort(std::string_view text) {
  int port = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, port);
  if (text.empty() || error != std::errc() || stop != end || port < 1 || port > 65535) {
    return std::nullopt;
  }
  return port;
}

// HOST or HOST:PORT, the host an IPv6 address in brackets or a name without blanks.
std::string ParseHostAndPort(std::string_view text, MqttTarget* target) {
  std::string_view host = text;
  std::string_view port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return "an IPv6 address lacks its closing bracket";
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return "only :PORT may follow the host";
    if (!rest.empty()) port = rest.substr(1);
    if (rest == ":") return "the port is empty";
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) return "the port is empty";
  }
  if (host.empty()) return "it names no host";
  if (!text.starts_with('[') && host.find(':') != std::string_view::npos) {
    return "an IPv6 address goes in brackets: [::1]";
  }
  if (host.find_first_of(" \t/?#@[]") != std::string_view::npos) return "the host is not a name";
  target->host = host;
  if (!port.empty()) {
    const auto number = ParsePort(port);
    if (!number) return "the port must be a number from 1 to 65535";
    target->port = *number;
  }
  return {};
}

}  // namespace

std::string MqttTarget::Where() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ParseMqttUrl(const std::string& url, MqttTarget* target) {
  MqttTarget parsed;
  std::string_view rest = url;
  if (rest.starts_with("mqtts://")) {
    parsed.tls = true;
    parsed.port = 8883;
    rest.remove_prefix(8);
  } else if (rest.starts_with("mqtt://")) {
    rest.remove_prefix(7);
  } else {
    return "--mqtt must be mqtt://[USER@]HOST[:PORT] or mqtts://..., not " + Quoted(url);
  }
  if (rest.ends_with('/')) rest.remove_suffix(1);
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = rest.substr(0, at);
    if (user.find(':') != std::string_view::npos) {
      return "--mqtt takes no password: set KL395_MQTT_PASSWORD instead, where other users "
             "cannot read it";
    }
    if (user.empty() || user.find('/') != std::string_view::npos) {
      return "--mqtt " + Quoted(url) + ": the user is not a name";
    }
    parsed.user = user;
    rest.remove_prefix(at + 1);
  }
  if (const std::string complaint = ParseHostAndPort(rest, &parsed); !complaint.empty()) {
    return "--mqtt " + Quoted(url) + ": " + complaint;
  }
  *target = parsed;
  return {};
}
