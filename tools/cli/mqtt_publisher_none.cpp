#include "tools/cli/mqtt_publisher.h"

bool MqttBuiltIn() {
  return false;
}

std::unique_ptr<MqttPublisher> MqttPublisher::Start(const MqttSettings&, std::string* complaint) {
  *complaint = "this build has no MQTT";
  return nullptr;
}
