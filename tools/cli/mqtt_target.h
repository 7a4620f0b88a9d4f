// Where --mqtt sends the readings: mqtt://[USER@]HOST[:PORT], or mqtts:// for TLS.
#pragma once

#include <string>

struct MqttTarget {
  bool tls = false;
  std::string user;  // empty: none
  std::string host;  // a name, an IPv4 address or an IPv6 one without its brackets
  int port = 1883;   // 8883 for mqtts:// unless named

  // "127.0.0.1:1883", "[::1]:8883", for messages.
  std::string Where() const;
};

// Parses the URL into `target`; the complaint, or "" when it is good. A password in it is
// refused: it belongs in KL395_MQTT_PASSWORD, where other users cannot read it.
std::string ParseMqttUrl(const std::string& url, MqttTarget* target);
