// --mqtt: the watch's readings on an MQTT broker, through libmosquitto, the broker project's
// own client library, as Home Assistant's MQTT discovery reads them (ha_discovery.h). The
// connection lives on libmosquitto's network thread: it reconnects with a growing delay, and
// whatever the broker does, the polls and the log go on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/cli/ha_discovery.h"
#include "tools/cli/mqtt_target.h"
#include "tools/cli/watch_events.h"

struct MqttSettings {
  MqttTarget target;
  std::string password;  // from KL395_MQTT_PASSWORD; empty: none
  std::string caFile;    // --mqtt-cafile; empty: the system's certificates
  std::string port;      // the line's port as given: COM3, /dev/ttyUSB0
  std::string discoveryPrefix;
  std::vector<int> addresses;
  bool echo = false;  // --echo, for the readings' texts
};

// Whether this build has MQTT: the Windows build does without libmosquitto.
bool MqttBuiltIn();

class MqttPublisher : public Watcher {
 public:
  // Starts connecting in the background; none when the settings cannot be used (a CA file
  // that cannot be read), `complaint` then saying why.
  static std::unique_ptr<MqttPublisher> Start(const MqttSettings& settings, std::string* complaint);
  // The watch has ended: offline is published, and the connection closed.
  virtual void Finish() = 0;
};
