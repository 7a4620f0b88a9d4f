#include <mosquitto.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tools/cli/cli_messages.h"
#include "tools/cli/mqtt_publisher.h"
#include "tools/cli/poll_log.h"

namespace {

using namespace std::chrono_literals;

// The broker counts us gone after one and a half times this without a word: then it
// publishes the last will.
constexpr int kKeepAliveSeconds = 30;
// Reconnection waits 1 s, then longer at each failure (the square of the attempts), up to
// half a minute.
constexpr unsigned kReconnectDelay = 1;
constexpr unsigned kReconnectDelayMax = 30;
// How long a clean end waits for the broker to take its offline.
constexpr auto kOfflineWait = 2s;

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

void Tell(const std::string& text) {
  std::fprintf(stderr, "kl395-cli: MQTT: %s\n", text.c_str());
  std::fflush(stderr);
}

// The machine's name, which tells the lines of two machines on one broker apart.
std::string MachineName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// libmosquitto is set up once for the process, before the first client.
void InitLibrary() {
  static const int initialised = mosquitto_lib_init();
  (void)initialised;
}

class MosquittoPublisher final : public MqttPublisher {
 public:
  explicit MosquittoPublisher(const MqttSettings& settings)
      : settings_(settings),
        naming_(MakeMqttNaming(MachineName(), settings.port, settings.discoveryPrefix)),
        json_(PollFormat::kJsonLines, settings.echo) {
    for (const int address : settings.addresses) detectors_[address];
  }

  ~MosquittoPublisher() override {
    Finish();
    if (client_ != nullptr) mosquitto_destroy(client_);
  }

  bool Begin(std::string* complaint);

  void Reading(const PollReading& reading) override {
    std::string line = json_.Line(reading);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::lock_guard lock(mutex_);
    Publish(DetectorTopic(naming_, reading.address, "reading"), line, false);
  }

  void Event(const WatchEvent& event) override {
    if (IsLineEvent(event.kind)) return;  // each detector tells its own answering
    const int address = event.addresses.front();
    std::lock_guard lock(mutex_);
    Detector& detector = detectors_[address];
    const Detector before = detector;
    detector.status = event.status;
    if (event.kind == WatchEventKind::kAnswering) detector.answering = true;
    if (event.kind == WatchEventKind::kNotAnswering) detector.answering = false;
    if (detector.answering == false && !detector.described) {
      detector.described = true;
      PublishConfigs(address);
    }
    if (!detector.SameState(before)) PublishState(address);
  }

  bool WantsVersions() const override { return true; }

  void Version(int address, double version) override {
    std::lock_guard lock(mutex_);
    detectors_[address].version = version;
    detectors_[address].described = true;
    PublishConfigs(address);
  }

  void Finish() override;

 private:
  struct Detector {
    std::optional<DetectorStatus> status;
    std::optional<bool> answering;
    std::optional<double> version;
    // Its configs go out once its version is read, or once it does not answer, so that a
    // restart does not take the version from Home Assistant's device for a moment.
    bool described = false;

    bool SameState(const Detector& other) const {
      const auto key = [](const std::optional<DetectorStatus>& s) {
        return s ? std::optional(std::pair(s->leak, s->alarmType)) : std::nullopt;
      };
      return key(status) == key(other.status) && answering == other.answering;
    }
  };

  static MosquittoPublisher& Self(void* user) { return *static_cast<MosquittoPublisher*>(user); }
  static void OnConnect(mosquitto*, void* user, int code) { Self(user).Connected(code); }
  static void OnDisconnect(mosquitto*, void* user, int code) { Self(user).Disconnected(code); }
  static void OnMessage(mosquitto*, void* user, const mosquitto_message* message) {
    Self(user).Received(*message);
  }
  static void OnPublish(mosquitto*, void* user, int id) { Self(user).Published(id); }
  static void OnLog(mosquitto*, void* user, int level, const char* text) {
    if (level == MOSQ_LOG_ERR) Self(user).Logged(text);
  }

  void Connected(int code);
  void Disconnected(int code);
  void Received(const mosquitto_message& message);
  void Published(int id);
  void Logged(const std::string& text);

  // Under the lock, on either thread; nothing goes out while there is no connection, and
  // what changed meanwhile goes out as the current state once there is one.
  void Publish(const std::string& topic, const std::string& payload, bool retain);
  void PublishConfigs(int address);
  void PublishState(int address);
  void PublishEverything();

  const MqttSettings settings_;
  const MqttNaming naming_;
  PollLog json_;  // the readings' JSON lines, on the polling thread alone
  mosquitto* client_ = nullptr;
  std::mutex mutex_;
  std::condition_variable offlineTaken_;
  std::map<int, Detector> detectors_;
  bool connected_ = false;
  bool everConnected_ = false;
  bool finishing_ = false;
  bool finished_ = false;
  std::optional<int> offlineId_;  // the message id of the clean end's offline
  std::string lastComplaint_;     // told once until the connection is made
};

bool MosquittoPublisher::Begin(std::string* complaint) {
  InitLibrary();
  const std::string clientId = "kl395-" + naming_.node;
  client_ = mosquitto_new(clientId.c_str(), true, this);
  if (client_ == nullptr) {
    *complaint = "cannot make an MQTT client";
    return false;
  }
  const MqttTarget& target = settings_.target;
  const std::string status = StatusTopic(naming_);
  mosquitto_will_set(client_, status.c_str(), static_cast<int>(std::string_view(kOffline).size()),
                     kOffline, 1, true);
  if (!target.user.empty()) {
    mosquitto_username_pw_set(client_, target.user.c_str(),
                              settings_.password.empty() ? nullptr : settings_.password.c_str());
  }
  if (target.tls && !settings_.caFile.empty()) {
    if (mosquitto_tls_set(client_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr) !=
        MOSQ_ERR_SUCCESS) {
      *complaint = "--mqtt-cafile " + settings_.caFile + " cannot be read";
      return false;
    }
  } else if (target.tls) {
    mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
  }
  mosquitto_connect_callback_set(client_, OnConnect);
  mosquitto_disconnect_callback_set(client_, OnDisconnect);
  mosquitto_message_callback_set(client_, OnMessage);
  mosquitto_publish_callback_set(client_, OnPublish);
  mosquitto_log_callback_set(client_, OnLog);
  mosquitto_reconnect_delay_set(client_, kReconnectDelay, kReconnectDelayMax, true);
  // The network thread first: it keeps trying when the broker is not there yet, where a
  // first attempt made before it, and failed, would be the last.
  if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
    *complaint = "cannot start the MQTT network thread";
    return false;
  }
  // Its first attempt may be made here, and fail here: the network thread tries again.
  if (const int connecting =
          mosquitto_connect_async(client_, target.host.c_str(), target.port, kKeepAliveSeconds);
      connecting != MOSQ_ERR_SUCCESS) {
    Disconnected(connecting);
  }
  return true;
}

void MosquittoPublisher::Connected(int code) {
  std::lock_guard lock(mutex_);
  if (code != 0) {
    const std::string why = mosquitto_connack_string(code);
    if (why != lastComplaint_) {
      lastComplaint_ = why;
      Tell(settings_.target.Where() + " refused the connection: " + why + "; trying again");
    }
    return;
  }
  Tell(std::string(everConnected_ ? "connected again to " : "connected to ") +
       settings_.target.Where());
  connected_ = true;
  everConnected_ = true;
  lastComplaint_.clear();
  mosquitto_subscribe(client_, nullptr, BirthTopic(naming_).c_str(), 1);
  PublishEverything();
}

void MosquittoPublisher::Disconnected(int code) {
  std::lock_guard lock(mutex_);
  const bool lost = connected_ && code != 0 && !finishing_;
  connected_ = false;
  if (lost) {
    Tell("connection to " + settings_.target.Where() + " lost; trying again");
  } else if (!everConnected_ && code != 0 && lastComplaint_.empty()) {
    lastComplaint_ = mosquitto_strerror(code);
    Tell("cannot reach " + settings_.target.Where() + " yet (" + lastComplaint_ +
         "); trying again in the background");
  }
}

// Home Assistant says online when it starts: it then needs the configs again, and the
// states, should the broker have lost them.
void MosquittoPublisher::Received(const mosquitto_message& message) {
  const std::string payload(static_cast<const char*>(message.payload),
                            static_cast<std::size_t>(message.payloadlen));
  if (message.topic != BirthTopic(naming_) || payload != kOnline) return;
  std::lock_guard lock(mutex_);
  PublishEverything();
}

void MosquittoPublisher::Published(int id) {
  {
    std::lock_guard lock(mutex_);
    if (offlineId_ != id) return;
    offlineId_.reset();
  }
  offlineTaken_.notify_all();
}

void MosquittoPublisher::Logged(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (text == lastComplaint_) return;
  lastComplaint_ = text;
  Tell(text);
}

void MosquittoPublisher::Publish(const std::string& topic, const std::string& payload,
                                 bool retain) {
  if (!connected_) return;
  mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), 0, retain);
}

void MosquittoPublisher::PublishConfigs(int address) {
  for (const MqttMessage& config :
       DiscoveryConfigs(naming_, address, detectors_[address].version)) {
    Publish(config.topic, config.payload, true);
  }
}

void MosquittoPublisher::PublishState(int address) {
  const Detector& detector = detectors_[address];
  if (detector.status) {
    Publish(DetectorTopic(naming_, address, "leak"), detector.status->leak ? "ON" : "OFF", true);
    Publish(DetectorTopic(naming_, address, "alarm"), AlarmName(detector.status->alarmType), true);
  }
  if (detector.answering) {
    Publish(DetectorTopic(naming_, address, "answering"), *detector.answering ? "ON" : "OFF", true);
  }
}

void MosquittoPublisher::PublishEverything() {
  Publish(StatusTopic(naming_), kOnline, true);
  for (const auto& [address, detector] : detectors_) {
    if (detector.described) PublishConfigs(address);
    PublishState(address);
  }
}

// Offline on a clean end, since the broker keeps the last will for connections that break;
// waited for, so that it is out before the process is.
void MosquittoPublisher::Finish() {
  if (client_ == nullptr) return;
  {
    std::unique_lock lock(mutex_);
    if (finished_) return;
    finished_ = true;
    finishing_ = true;
    if (connected_) {
      int id = 0;
      const std::string status = StatusTopic(naming_);
      if (mosquitto_publish(client_, &id, status.c_str(),
                            static_cast<int>(std::string_view(kOffline).size()), kOffline, 1,
                            true) == MOSQ_ERR_SUCCESS) {
        offlineId_ = id;
        offlineTaken_.wait_for(lock, kOfflineWait, [&] { return !offlineId_; });
      }
    }
  }
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
}

}  // namespace

bool MqttBuiltIn() {
  return true;
}

std::unique_ptr<MqttPublisher> MqttPublisher::Start(const MqttSettings& settings,
                                                    std::string* complaint) {
  auto publisher = std::make_unique<MosquittoPublisher>(settings);
  if (!publisher->Begin(complaint)) return nullptr;
  return publisher;
}
