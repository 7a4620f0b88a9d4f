#include "tests/support/network_peers.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kStartTimeout = 10s;

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket bound to a loopback port the system picks, and that port.
int BoundSocket(std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool Accepting(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  const bool connected =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

bool WaitUntilAccepting(std::uint16_t port, pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepting(port)) return true;
    if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// The first line a child writes to the pipe, within the start time.
std::string FirstLine(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  char byte = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    if (read(fd, &byte, 1) != 1 || byte == '\n') break;
    line += byte;
  }
  return line;
}

void EndChild(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  WaitForExit(pid, kStartTimeout);
  pid = -1;
}

}  // namespace

std::uint16_t FreeLoopbackPort() {
  std::uint16_t port = 0;
  const int fd = BoundSocket(port);
  if (fd >= 0) close(fd);
  return port;
}

Ser2net::Ser2net(const std::string& device, Mode mode, int baudRate) : mode_(mode) {
  char pattern[] = "/tmp/kl395-ser2net.XXXXXX";
  if (!mkdtemp(pattern)) return;
  folder_ = pattern;
  port_ = FreeLoopbackPort();
  const std::string accepter = mode == Mode::kRfc2217 ? "telnet(rfc2217),tcp" : "tcp";
  std::ofstream(folder_ / "ser2net.yaml")
      << "connection: &line\n"
      << "  accepter: " << accepter << ",127.0.0.1," << port_ << "\n"
      << "  connector: serialdev," << device << "," << baudRate << "n81,local\n";
  Start();
}

Ser2net::~Ser2net() {
  Stop();
  std::error_code ignored;
  if (!folder_.empty()) fs::remove_all(folder_, ignored);
}

std::string Ser2net::Url(const std::string& query) const {
  return (mode_ == Mode::kRfc2217 ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") +
         std::to_string(port_) + query;
}

void Ser2net::Stop() {
  EndChild(pid_);
}

bool Ser2net::Start() {
  if (pid_ > 0 || folder_.empty()) return pid_ > 0;
  const int log =
      open((folder_ / "ser2net.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  pid_ = SpawnProgram(KL395_SER2NET_PATH,
                      {"-n", "-d", "-c", (folder_ / "ser2net.yaml").string(), "-P",
                       (folder_ / "ser2net.pid").string()},
                      {{STDOUT_FILENO, log}, {STDERR_FILENO, log}});
  close(log);
  if (pid_ > 0 && !WaitUntilAccepting(port_, pid_)) EndChild(pid_);
  return pid_ > 0;
}

ModbusTcpPeer::ModbusTcpPeer() {
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return;
  pid_ = SpawnProgram(KL395_MODBUS_TCP_PEER_PATH, {}, {{STDOUT_FILENO, output[1]}});
  close(output[1]);
  const std::string where = pid_ > 0 ? FirstLine(output[0]) : std::string();
  close(output[0]);
  if (const auto colon = where.rfind(':'); colon != std::string::npos) {
    port_ = static_cast<std::uint16_t>(std::atoi(where.c_str() + colon + 1));
  }
}

ModbusTcpPeer::~ModbusTcpPeer() {
  EndChild(pid_);
}

std::string ModbusTcpPeer::Url() const {
  return "tcp://127.0.0.1:" + std::to_string(port_);
}

StandInServer::StandInServer(Serve serve) {
  listener_ = BoundSocket(port_);
  if (listener_ < 0 || listen(listener_, 4) != 0) return;
  thread_ = std::thread([this, serve = std::move(serve)] {
    int number = 0;
    while (!stopping_) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 20) <= 0) continue;
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      serve(connection, ++number);
      close(connection);
    }
  });
}

StandInServer::~StandInServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

std::string StandInServer::Url(const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::uint8_t> ReadFrom(int connection, std::size_t count,
                                   std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{connection, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t read = recv(connection, bytes.data() + got, count - got, 0);
    if (read <= 0) break;
    got += static_cast<std::size_t>(read);
  }
  bytes.resize(got);
  return bytes;
}

void WriteTo(int connection, std::span<const std::uint8_t> bytes) {
  send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

RefusingPort::RefusingPort() {
  socket_ = BoundSocket(port_);
}

RefusingPort::~RefusingPort() {
  if (socket_ >= 0) close(socket_);
}
