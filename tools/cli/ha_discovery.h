// What goes to the MQTT broker, as Home Assistant's MQTT discovery reads it: for each detector
// a binary sensor for its leak state (device class moisture), a sensor for its alarm type and
// a binary sensor for whether it answers, each with a retained config under the discovery
// prefix; their states as plain ON/OFF and names on topics of our own; the watch's
// availability. Apart from the connection, so that the texts can be tested on their own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The names of one watched line on the broker.
struct MqttNaming {
  std::string node;    // kl395_<machine>_<port>: unique per line, stable across restarts
  std::string port;    // the port as the device names show it: ttyUSB0, COM3
  std::string prefix;  // Home Assistant's discovery prefix
};

// `port` as --device or --port gave it; a device's path is named without /dev/.
MqttNaming MakeMqttNaming(const std::string& machine, const std::string& port,
                          const std::string& prefix);

struct MqttMessage {
  std::string topic;
  std::string payload;
};

// kl395/<node>/status: online, or offline (the connection's last will).
std::string StatusTopic(const MqttNaming& naming);
// kl395/<node>/<address>/<what>: leak (ON/OFF), alarm (its name), answering (ON/OFF), reading
// (the poll's JSON line).
std::string DetectorTopic(const MqttNaming& naming, int address, std::string_view what);
// <prefix>/status, where Home Assistant says online when it starts.
std::string BirthTopic(const MqttNaming& naming);

// The three discovery configs of a detector; `version` (its firmware's) once it is known.
std::vector<MqttMessage> DiscoveryConfigs(const MqttNaming& naming, int address,
                                          std::optional<double> version);

// The alarm sensor's states: the names of the alarm types.
std::vector<std::string> AlarmStates();
