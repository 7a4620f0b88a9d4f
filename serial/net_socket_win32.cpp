// TCP connections on Windows: non-blocking Winsock sockets waited on with select.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "serial/net_socket.h"

namespace {

using Clock = NetSocket::Clock;
using std::chrono::milliseconds;

// Winsock is started once, for the life of the process.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET Socket(std::uintptr_t handle) {
  return static_cast<SOCKET>(handle);
}

timeval TimeLeft(Clock::time_point deadline) {
  const auto left = std::max<long long>(
      0, std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count());
  return {static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
}

enum class Ready { kNo, kYes, kFailed };

// Waits until the socket is readable (or writable) or has failed, or the deadline passes.
Ready SelectFor(SOCKET socket, bool write, Clock::time_point deadline) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(socket, &wanted);
  FD_SET(socket, &failed);
  timeval left = TimeLeft(deadline);
  const int ready = select(0, write ? nullptr : &wanted, write ? &wanted : nullptr, &failed, &left);
  if (ready == SOCKET_ERROR || FD_ISSET(socket, &failed)) return Ready::kFailed;
  return ready > 0 ? Ready::kYes : Ready::kNo;
}

std::string SystemMessage(int error) {
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "Winsock error " + std::to_string(error) : message;
}

CommErrorKind ConnectErrorKind(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return CommErrorKind::kConnectionRefused;
    case WSAETIMEDOUT:
      return CommErrorKind::kConnectionTimedOut;
    default:
      return CommErrorKind::kNetworkUnreachable;  // WSAENETUNREACH, WSAEHOSTUNREACH and the like
  }
}

std::string Where(const std::string& host, std::uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// Connects one address of the host's before the deadline: the socket, or INVALID_SOCKET with
// the error of the failure (WSAETIMEDOUT at the deadline).
SOCKET ConnectAddress(const addrinfo& address, Clock::time_point deadline, int& error) {
  const SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (socket == INVALID_SOCKET) {
    error = WSAGetLastError();
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  ioctlsocket(socket, FIONBIO, &nonBlocking);
  if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return socket;
  error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) {
    const Ready ready = SelectFor(socket, true, deadline);
    int length = sizeof error;
    error = 0;
    if (ready == Ready::kNo) {
      error = WSAETIMEDOUT;
    } else if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
               0) {
      error = WSAGetLastError();
    }
    if (error == 0) return socket;
  }
  closesocket(socket);
  return INVALID_SOCKET;
}

}  // namespace

std::unique_ptr<NetSocket> NetSocket::Connect(const std::string& host, std::uint16_t port,
                                              milliseconds timeout, CommError& error) {
  const std::string where = Where(host, port);
  if (!WinsockStarted()) {
    error = ConnectionError(CommErrorKind::kNetworkUnreachable, where, "Winsock did not start",
                            timeout);
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
    error = ConnectionError(CommErrorKind::kHostNotFound, where, SystemMessage(WSAGetLastError()),
                            timeout);
    return nullptr;
  }
  const auto deadline = Clock::now() + timeout;
  SOCKET socket = INVALID_SOCKET;
  int failure = WSAETIMEDOUT;
  for (const addrinfo* address = addresses;
       address && socket == INVALID_SOCKET && Clock::now() < deadline; address = address->ai_next) {
    socket = ConnectAddress(*address, deadline, failure);
  }
  freeaddrinfo(addresses);
  if (socket == INVALID_SOCKET) {
    const std::string words = failure == WSAETIMEDOUT ? std::string() : SystemMessage(failure);
    error = ConnectionError(ConnectErrorKind(failure), where, words, timeout);
    return nullptr;
  }
  const BOOL on = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return std::unique_ptr<NetSocket>(new NetSocket(static_cast<std::uintptr_t>(socket)));
}

NetSocket::~NetSocket() {
  closesocket(Socket(handle_));
}

std::size_t NetSocket::Send(std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size() && !closed_) {
    const int count = send(Socket(handle_), reinterpret_cast<const char*>(bytes.data() + sent),
                           static_cast<int>(bytes.size() - sent), 0);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
    } else if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (!WaitWritable(deadline)) break;
    } else {
      closed_ = true;
    }
  }
  return sent;
}

std::size_t NetSocket::Receive(std::span<std::uint8_t> buffer) {
  const int count = recv(Socket(handle_), reinterpret_cast<char*>(buffer.data()),
                         static_cast<int>(buffer.size()), 0);
  if (count > 0) return static_cast<std::size_t>(count);
  // 0: the other end closed it; an error other than "nothing yet" ended it.
  if (count == 0 || WSAGetLastError() != WSAEWOULDBLOCK) closed_ = true;
  return 0;
}

bool NetSocket::WaitReadable(Clock::time_point deadline) {
  return SelectFor(Socket(handle_), false, deadline) != Ready::kNo;
}

bool NetSocket::WaitWritable(Clock::time_point deadline) {
  const Ready ready = SelectFor(Socket(handle_), true, deadline);
  if (ready == Ready::kFailed) closed_ = true;
  return ready == Ready::kYes;
}
