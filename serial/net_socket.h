// A TCP connection as the network lines use it: made within a bounded time, never blocking
// past the deadlines given. One class; net_socket_posix.cpp and net_socket_win32.cpp
// implement it. Inside serial/ only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "serial/comm_port.h"

// Why a connection to `where` ("host:port") did not come about, in words that name the
// cause first; `words` are the system's own, when it has any.
CommError ConnectionError(CommErrorKind kind, const std::string& where, const std::string& words,
                          std::chrono::milliseconds timeout);

class NetSocket {
 public:
  using Clock = std::chrono::steady_clock;

  // Connects to host:port within `timeout`, with TCP_NODELAY: a request goes out at once, not
  // held back to be sent with the next. Null, with `error` set to the cause, when it cannot.
  static std::unique_ptr<NetSocket> Connect(const std::string& host, std::uint16_t port,
                                            std::chrono::milliseconds timeout, CommError& error);
  ~NetSocket();
  NetSocket(const NetSocket&) = delete;
  NetSocket& operator=(const NetSocket&) = delete;

  // Sends what the deadline allows; the count sent.
  std::size_t Send(std::span<const std::uint8_t> bytes, Clock::time_point deadline);
  // What has come, without waiting; 0 when nothing has.
  std::size_t Receive(std::span<std::uint8_t> buffer);
  // Waits until something has come (or the connection ended) or the deadline passes; false
  // on the deadline.
  bool WaitReadable(Clock::time_point deadline);
  // Whether the other end closed the connection, or it failed: nothing comes any more.
  bool Closed() const { return closed_; }

 private:
  explicit NetSocket(std::uintptr_t handle) : handle_(handle) {}
  bool WaitWritable(Clock::time_point deadline);

  std::uintptr_t handle_;  // a descriptor, or a Winsock SOCKET
  bool closed_ = false;
};
