// A line over a TCP connection: the read and write time-outs of a serial port kept on a
// socket, with the data carried as the kind of line carries it. Each kind derives from it
// in a file of its own. Inside serial/ only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "serial/comm_port.h"
#include "serial/line_url.h"
#include "serial/net_socket.h"

// How long a gateway may take to accept a connection.
inline constexpr std::chrono::milliseconds kConnectTimeout{3000};

class NetworkLine : public CommPort {
 public:
  // Gives up after 100 ms + 50 ms per data byte.
  std::size_t Write(std::span<const std::uint8_t> data) override;
  // Ends after 5 ms + 5 ms per byte asked for in all, or 100 ms between two data bytes.
  std::size_t Read(std::span<std::uint8_t> data) override;
  // The data received so far, and not yet read.
  unsigned QueuedInput() override;
  // A connection the other end closed, or that failed, is a line gone.
  bool LineGone() const override { return socket_->Closed(); }

 protected:
  explicit NetworkLine(std::unique_ptr<NetSocket> socket) : socket_(std::move(socket)) {}

  // What carries `data` over the connection; empty to refuse it.
  virtual std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> data) = 0;
  // Takes in what came over the connection: the data it carries go to `data`, and what the
  // protocol must answer at once to `answer`.
  virtual void Decode(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
                      std::vector<std::uint8_t>& answer) = 0;

  // Sends bytes of the protocol's own, not data, within the write time-out for `dataBytes`.
  bool SendWire(std::span<const std::uint8_t> wire, std::size_t dataBytes);
  // Takes in what has come, without waiting.
  void Pump();
  // Takes in what comes until `done` holds, the connection ends or the deadline passes.
  template <typename Done>
  bool PumpUntil(Done done, NetSocket::Clock::time_point deadline) {
    for (Pump(); !done(); Pump()) {
      if (LineGone() || !socket_->WaitReadable(deadline)) return done();
    }
    return true;
  }
  // Drops the data taken in so far: the purge of an open.
  void DropInput() { input_.clear(); }

  // What the last Write sent over the connection, and what came between the Read before the
  // last and the last: what a line whose protocol wraps the data shows a frame trace.
  const std::vector<std::uint8_t>& SentWire() const { return sentWire_; }
  const std::vector<std::uint8_t>& ReadWire() const { return readWire_; }

 private:
  std::size_t TakeInput(std::span<std::uint8_t> data);

  std::unique_ptr<NetSocket> socket_;
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> sentWire_;
  std::vector<std::uint8_t> comingWire_;
  std::vector<std::uint8_t> readWire_;
};

// Opens the line the URL names: connects, and on rfc2217:// sets the line up at the rate.
// Null with the cause in LastCommError() when the URL is wrong or that fails.
std::unique_ptr<CommPort> OpenNetworkLine(const std::string& url, int baudRate);
// The kinds of line, each in its file.
std::unique_ptr<CommPort> OpenRfc2217Line(std::unique_ptr<NetSocket> socket, int baudRate);
std::unique_ptr<CommPort> OpenSocketLine(std::unique_ptr<NetSocket> socket);
std::unique_ptr<CommPort> OpenModbusTcpLine(std::unique_ptr<NetSocket> socket);

// What the last open of the URL met, in this process: kNone when it connected or none was
// tried. Nothing is connected to find out, which would take a gateway's only client.
CommError LastNetworkLineFailure(const std::string& url);
