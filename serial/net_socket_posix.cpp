// TCP connections on POSIX systems: non-blocking sockets waited on with poll.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/net_socket.h"

namespace {

using Clock = NetSocket::Clock;
using std::chrono::milliseconds;

int Descriptor(std::uintptr_t handle) {
  return static_cast<int>(handle);
}

// The time to the deadline for poll, 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` until the deadline; the events that came, 0 on the deadline.
short PollFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return POLLERR;
    return ready == 0 ? 0 : entry.revents;
  }
}

CommErrorKind ConnectErrorKind(int error) {
  switch (error) {
    case ECONNREFUSED:
      return CommErrorKind::kConnectionRefused;
    case ETIMEDOUT:
      return CommErrorKind::kConnectionTimedOut;
    default:
      return CommErrorKind::kNetworkUnreachable;  // ENETUNREACH, EHOSTUNREACH and the like
  }
}

std::string Where(const std::string& host, std::uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// Connects one address of the host's before the deadline: the descriptor, or -1 with the
// errno of the failure (ETIMEDOUT at the deadline).
int ConnectAddress(const addrinfo& address, Clock::time_point deadline, int& error) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address.ai_protocol);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return fd;
  error = errno;
  if (error == EINPROGRESS) {
    socklen_t length = sizeof error;
    if (PollFor(fd, POLLOUT, deadline) == 0) {
      error = ETIMEDOUT;
    } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = errno;
    }
    if (error == 0) return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace

std::unique_ptr<NetSocket> NetSocket::Connect(const std::string& host, std::uint16_t port,
                                              milliseconds timeout, CommError& error) {
  const std::string where = Where(host, port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  if (const int failure =
          ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses)) {
    error = ConnectionError(CommErrorKind::kHostNotFound, where, ::gai_strerror(failure), timeout);
    return nullptr;
  }
  const auto deadline = Clock::now() + timeout;
  int fd = -1;
  int failure = ETIMEDOUT;
  // Each address the name has, in the resolver's order, until one connects.
  for (const addrinfo* address = addresses; address && fd < 0 && Clock::now() < deadline;
       address = address->ai_next) {
    fd = ConnectAddress(*address, deadline, failure);
  }
  ::freeaddrinfo(addresses);
  if (fd < 0) {
    const std::string words = failure == ETIMEDOUT ? std::string() : std::strerror(failure);
    error = ConnectionError(ConnectErrorKind(failure), where, words, timeout);
    return nullptr;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return std::unique_ptr<NetSocket>(new NetSocket(static_cast<std::uintptr_t>(fd)));
}

NetSocket::~NetSocket() {
  ::close(Descriptor(handle_));
}

std::size_t NetSocket::Send(std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size() && !closed_) {
    // No SIGPIPE from a connection the other end has closed: that is a line gone.
    const ssize_t count =
        ::send(Descriptor(handle_), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      if (!WaitWritable(deadline)) break;
    } else {
      closed_ = true;
    }
  }
  return sent;
}

std::size_t NetSocket::Receive(std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t count = ::recv(Descriptor(handle_), buffer.data(), buffer.size(), 0);
    if (count > 0) return static_cast<std::size_t>(count);
    if (count < 0 && errno == EINTR) continue;
    // 0: the other end closed it; an error other than "nothing yet" ended it.
    if (count == 0 || errno != EAGAIN) closed_ = true;
    return 0;
  }
}

bool NetSocket::WaitReadable(Clock::time_point deadline) {
  return PollFor(Descriptor(handle_), POLLIN, deadline) != 0;
}

bool NetSocket::WaitWritable(Clock::time_point deadline) {
  const short events = PollFor(Descriptor(handle_), POLLOUT, deadline);
  if (events & (POLLERR | POLLHUP | POLLNVAL)) closed_ = true;
  return events != 0 && !closed_;
}
