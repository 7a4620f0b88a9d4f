// What the network lines' tests talk to, all on loopback: ser2net in front of a device in raw
// or RFC 2217 mode, the libmodbus Modbus TCP peer, stand-in servers that play a gateway's
// faults, and a port that refuses connections.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

// A loopback port nobody listens on at the moment it is found.
std::uint16_t FreeLoopbackPort();

// ser2net, as a gateway serves a serial line: its configuration written into a folder of its
// own, run in the foreground on a free port of 127.0.0.1.
class Ser2net {
 public:
  enum class Mode { kRaw, kRfc2217 };
  // The line starts at `baudRate`; in RFC 2217 mode the client sets it.
  Ser2net(const std::string& device, Mode mode, int baudRate = 9600);
  ~Ser2net();
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  // False when it did not start listening.
  bool Running() const { return pid_ > 0; }
  std::uint16_t port() const { return port_; }
  // rfc2217://127.0.0.1:PORT or socket://127.0.0.1:PORT, and `query` after it.
  std::string Url(const std::string& query = {}) const;
  // Ends it, as a gateway that goes down; Start() brings it back on the same port.
  void Stop();
  bool Start();

 private:
  std::filesystem::path folder_;
  Mode mode_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// kl395-modbus-tcp-peer: libmodbus serving the detector's registers at unit 1.
class ModbusTcpPeer {
 public:
  ModbusTcpPeer();
  ~ModbusTcpPeer();
  ModbusTcpPeer(const ModbusTcpPeer&) = delete;
  ModbusTcpPeer& operator=(const ModbusTcpPeer&) = delete;

  bool Running() const { return port_ != 0; }
  // tcp://127.0.0.1:PORT
  std::string Url() const;

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

// A server on a free loopback port that hands each connection, one at a time, to `serve`
// on a thread of its own, and closes it when `serve` returns.
class StandInServer {
 public:
  using Serve = std::function<void(int connection, int number)>;  // number: 1 for the first
  explicit StandInServer(Serve serve);
  ~StandInServer();
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  std::uint16_t port() const { return port_; }
  // `scheme`://127.0.0.1:PORT
  std::string Url(const std::string& scheme) const;
  // Whether the server is stopping: a `serve` that waits should give up then.
  bool Stopping() const { return stopping_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Reads what comes on the connection until `count` bytes have, or `timeout` passes.
std::vector<std::uint8_t> ReadFrom(int connection, std::size_t count,
                                   std::chrono::milliseconds timeout);
void WriteTo(int connection, std::span<const std::uint8_t> bytes);

// A port bound on loopback without listening, so that every connection to it is refused for
// as long as this lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int socket_ = -1;
  std::uint16_t port_ = 0;
};
