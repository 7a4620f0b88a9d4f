#include "tools/cli/ha_discovery.h"

#include "tools/cli/cli_messages.h"
#include "tools/cli/poll_log.h"
#include "ui/number_text.h"

namespace {

// Node and object ids take [a-zA-Z0-9_-] only.
std::string IdPart(std::string_view text) {
  std::string id;
  for (const char c : text) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    id += kept ? c : '_';
  }
  return id;
}

std::string Member(std::string_view name, const std::string& json) {
  return JsonString(name) + ":" + json;
}

std::string Object(const std::vector<std::string>& members) {
  std::string object = "{";
  for (const std::string& member : members) {
    object.append(object.size() > 1 ? "," : "").append(member);
  }
  return object + "}";
}

std::string Array(const std::vector<std::string>& items) {
  std::string array = "[";
  for (const std::string& item : items) array.append(array.size() > 1 ? "," : "").append(item);
  return array + "]";
}

std::string ObjectId(int address, std::string_view what) {
  return "address" + std::to_string(address) + "_" + std::string(what);
}

std::string Device(const MqttNaming& naming, int address, std::optional<double> version) {
  std::vector<std::string> members = {
      Member("identifiers",
             Array({JsonString(naming.node + "_address" + std::to_string(address))})),
      Member("name",
             JsonString("KL-395 address " + std::to_string(address) + " on " + naming.port)),
      Member("model", JsonString("KL-395")),
  };
  if (version)
    members.push_back(Member("sw_version", JsonString(FormatOneDecimal("%.1f", *version))));
  return Object(members);
}

// The watch's status, and for the detector's own readings whether it answers.
std::string Availability(const MqttNaming& naming, int address, bool ofReadings) {
  std::vector<std::string> topics = {Object({Member("topic", JsonString(StatusTopic(naming)))})};
  if (ofReadings) {
    topics.push_back(
        Object({Member("topic", JsonString(DetectorTopic(naming, address, "answering"))),
                Member("payload_available", JsonString("ON")),
                Member("payload_not_available", JsonString("OFF"))}));
  }
  return Member("availability", Array(topics)) + "," +
         Member("availability_mode", JsonString("all"));
}

struct Entity {
  const char* component;
  const char* what;  // the object id's end and the state topic's
  const char* name;
  std::vector<std::string> own;  // the members of its kind
  bool ofReadings;               // unavailable while the detector does not answer
};

MqttMessage Config(const MqttNaming& naming, int address, std::optional<double> version,
                   const Entity& entity) {
  const std::string objectId = ObjectId(address, entity.what);
  std::vector<std::string> members = {
      Member("name", JsonString(entity.name)),
      Member("unique_id", JsonString(naming.node + "_" + objectId)),
      Member("state_topic", JsonString(DetectorTopic(naming, address, entity.what))),
  };
  members.insert(members.end(), entity.own.begin(), entity.own.end());
  members.push_back(Availability(naming, address, entity.ofReadings));
  members.push_back(Member("device", Device(naming, address, version)));
  members.push_back(Member("origin", Object({Member("name", JsonString("kl395-cli")),
                                             Member("sw_version", JsonString(KL395_VERSION))})));
  return {naming.prefix + "/" + entity.component + "/" + naming.node + "/" + objectId + "/config",
          Object(members)};
}

}  // namespace

MqttNaming MakeMqttNaming(const std::string& machine, const std::string& port,
                          const std::string& prefix) {
  const std::string shown = port.starts_with("/dev/") ? port.substr(5) : port;
  return {"kl395_" + IdPart(machine) + "_" + IdPart(shown), shown, prefix};
}

std::string StatusTopic(const MqttNaming& naming) {
  return "kl395/" + naming.node + "/status";
}

std::string DetectorTopic(const MqttNaming& naming, int address, std::string_view what) {
  return "kl395/" + naming.node + "/" + std::to_string(address) + "/" + std::string(what);
}

std::string BirthTopic(const MqttNaming& naming) {
  return naming.prefix + "/status";
}

std::vector<std::string> AlarmStates() {
  std::vector<std::string> states;
  for (const unsigned type : {0u, 1u, 2u, 3u, 4u}) states.emplace_back(AlarmName(type));
  return states;
}

std::vector<MqttMessage> DiscoveryConfigs(const MqttNaming& naming, int address,
                                          std::optional<double> version) {
  std::vector<std::string> options;
  for (const std::string& state : AlarmStates()) options.push_back(JsonString(state));
  const Entity entities[] = {
      {"binary_sensor",
       "leak",
       "Leak",
       {Member("device_class", JsonString("moisture")), Member("payload_on", JsonString("ON")),
        Member("payload_off", JsonString("OFF"))},
       true},
      {"sensor",
       "alarm",
       "Alarm type",
       {Member("device_class", JsonString("enum")), Member("options", Array(options))},
       true},
      {"binary_sensor",
       "answering",
       "Answering",
       {Member("device_class", JsonString("connectivity")),
        Member("entity_category", JsonString("diagnostic")), Member("payload_on", JsonString("ON")),
        Member("payload_off", JsonString("OFF"))},
       false},
  };
  std::vector<MqttMessage> configs;
  for (const Entity& entity : entities) configs.push_back(Config(naming, address, version, entity));
  return configs;
}
