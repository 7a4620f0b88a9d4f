#include "tests/watch/mqtt_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A port nobody listens on now, from the system's own choice.
int FreePort() {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(probe);
  return port;
}

bool TakesConnections(int port) {
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool taken = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(client);
  return taken;
}

fs::path NewFolder(const std::string& kind) {
  static int made = 0;
  const fs::path folder =
      fs::temp_directory_path() /
      ("kl395-" + kind + "-" + std::to_string(getpid()) + "-" + std::to_string(++made));
  fs::create_directories(folder);
  return folder;
}

std::vector<std::string> SubscriberArguments(const Broker& broker, const std::string& filter,
                                             const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {"-h", "127.0.0.1", "-p", std::to_string(broker.port()),
                                        "-t", filter,      "-F", "%r\\t%t\\t%p"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

std::optional<MqttReceived> ParseLine(const std::string& line) {
  const std::size_t first = line.find('\t');
  const std::size_t second = line.find('\t', first + 1);
  if (first == std::string::npos || second == std::string::npos) return std::nullopt;
  return MqttReceived{line.substr(0, first) == "1", line.substr(first + 1, second - first - 1),
                      line.substr(second + 1)};
}

}  // namespace

Broker::Broker(const std::string& settings) : folder_(NewFolder("broker")), port_(FreePort()) {
  std::ofstream config(folder_ / "mosquitto.conf");
  config << "listener " << port_ << " 127.0.0.1\n"
         << "persistence false\n"
         << "log_dest file " << (folder_ / "mosquitto.log").string() << "\n";
  // Started by root, it would run as the mosquitto user, who may not read our folder.
  if (geteuid() == 0) config << "user root\n";
  config << settings;
}

Broker::~Broker() {
  Stop();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

bool Broker::Start() {
  pid_ = SpawnProgram("/usr/sbin/mosquitto", {"-c", (folder_ / "mosquitto.conf").string()}, {});
  const auto deadline = Clock::now() + 10s;
  while (pid_ > 0 && Clock::now() < deadline) {
    if (TakesConnections(port_)) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

void Broker::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  WaitForExit(pid_, 10s);
  pid_ = -1;
}

std::string Broker::Url(const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_);
}

std::string Broker::Log() const {
  std::ifstream log(folder_ / "mosquitto.log");
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

bool MakeTestCertificates(const fs::path& folder) {
  const auto file = [&](const char* name) { return (folder / name).string(); };
  {
    std::ofstream extensions(file("server.ext"));
    extensions << "subjectAltName=IP:127.0.0.1\n";
  }
  const std::vector<std::vector<std::string>> steps = {
      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
       "-keyout", file("ca.key"), "-out", file("ca.pem"), "-days", "2", "-subj",
       "/CN=kl395 test CA"},
      {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
       file("server.key"), "-out", file("server.csr"), "-subj", "/CN=127.0.0.1"},
      {"x509", "-req", "-in", file("server.csr"), "-CA", file("ca.pem"), "-CAkey", file("ca.key"),
       "-CAcreateserial", "-out", file("server.pem"), "-days", "2", "-extfile", file("server.ext")},
  };
  for (const auto& step : steps) {
    if (RunProgram("openssl", step).status != 0) return false;
  }
  return true;
}

Subscriber::Subscriber(const Broker& broker, const std::string& filter,
                       const std::vector<std::string>& options) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  pid_ = SpawnProgram("/usr/bin/mosquitto_sub", SubscriberArguments(broker, filter, options),
                      {{STDOUT_FILENO, ends[1]}});
  close(ends[1]);
  output_ = ends[0];
}

Subscriber::~Subscriber() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    WaitForExit(pid_, 10s);
  }
  if (output_ >= 0) close(output_);
}

bool Subscriber::WaitFor(const std::function<bool(const MqttReceived&)>& wanted,
                         std::chrono::milliseconds timeout, std::size_t from) {
  const auto deadline = Clock::now() + timeout;
  std::size_t looked = from;
  for (;;) {
    for (; looked < received.size(); ++looked) {
      if (wanted(received[looked])) return true;
    }
    if (!ReadSome(deadline)) return false;
  }
}

bool Subscriber::WaitFor(const std::string& topic, const std::string& payload,
                         std::chrono::milliseconds timeout, std::size_t from) {
  return WaitFor([&](const MqttReceived& m) { return m.topic == topic && m.payload == payload; },
                 timeout, from);
}

bool Subscriber::ReadSome(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (output_ < 0 || left.count() <= 0) return false;
  pollfd polled = {output_, POLLIN, 0};
  if (poll(&polled, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[4096];
  const ssize_t count = read(output_, buffer, sizeof buffer);
  if (count <= 0) return false;
  pending_.append(buffer, static_cast<std::size_t>(count));
  for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
    if (auto message = ParseLine(pending_.substr(0, end))) received.push_back(*message);
    pending_.erase(0, end + 1);
  }
  return true;
}

std::vector<MqttReceived> RetainedNow(const Broker& broker, const std::string& filter,
                                      const std::vector<std::string>& options) {
  std::vector<std::string> arguments = options;
  arguments.insert(arguments.end(), {"--retained-only", "-W", "1"});
  Subscriber subscriber(broker, filter, arguments);
  subscriber.WaitFor([](const MqttReceived&) { return false; }, 5s);
  return subscriber.received;
}
