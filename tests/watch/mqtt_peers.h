// The MQTT peers of the tests, Debian's own programs: a mosquitto broker started on loopback
// with a configuration of the test's in a folder of its own, and mosquitto_sub as the
// independent reader of what reaches it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class Broker {
 public:
  // `settings` go into its configuration after the listener on 127.0.0.1 and a free port.
  explicit Broker(const std::string& settings = "allow_anonymous true\n");
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Starts it (again, on the same port) and waits until it takes connections.
  bool Start();
  // Ends it with SIGTERM and waits for its end.
  void Stop();

  int port() const { return port_; }
  std::string Url(const std::string& scheme = "mqtt") const;
  const std::filesystem::path& Folder() const { return folder_; }
  // Its log, for a failing test's output.
  std::string Log() const;

 private:
  std::filesystem::path folder_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A CA and a certificate for 127.0.0.1 signed by it, made with openssl in `folder`:
// ca.pem, server.pem and server.key. False when openssl failed.
bool MakeTestCertificates(const std::filesystem::path& folder);

struct MqttReceived {
  bool retained = false;
  std::string topic;
  std::string payload;
};

// mosquitto_sub on the broker, subscribed to `filter`, its messages read as they come.
class Subscriber {
 public:
  Subscriber(const Broker& broker, const std::string& filter,
             const std::vector<std::string>& options = {});
  ~Subscriber();
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  // Reads until a message received after the first `from` satisfies `wanted`, or the time
  // is up.
  bool WaitFor(const std::function<bool(const MqttReceived&)>& wanted,
               std::chrono::milliseconds timeout, std::size_t from = 0);
  // Reads until a message on `topic` carries `payload`.
  bool WaitFor(const std::string& topic, const std::string& payload,
               std::chrono::milliseconds timeout, std::size_t from = 0);

  std::vector<MqttReceived> received;

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int output_ = -1;
  std::string pending_;
};

// What a subscriber that comes now gets of `filter`: the retained messages, read for a
// second.
std::vector<MqttReceived> RetainedNow(const Broker& broker, const std::string& filter,
                                      const std::vector<std::string>& options = {});
