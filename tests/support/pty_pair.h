// A pseudo-terminal standing in for the detector's end of the line. Our side opens
// PortPath(); the test drives the master: what it sends arrives in our input queue, what our
// side writes can be received here, and Pull() closes the master like a pulled adapter.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class PtyPair {
 public:
  // The line starts raw, so that bytes sent before our side opens arrive unaltered.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& PortPath() const { return portPath_; }

  void Send(std::span<const std::uint8_t> bytes);
  // What our side wrote: `count` bytes, or fewer if they do not come within `timeout`.
  std::vector<std::uint8_t> Receive(std::size_t count,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(2));

  // Bytes waiting in the port's input queue, seen through a descriptor of the port side that
  // the pair keeps open; it also keeps the line up between two opens by our side.
  unsigned QueuedAtPort() const;
  // Waits up to `timeout` until QueuedAtPort() equals `count`.
  bool WaitForQueuedAtPort(unsigned count,
                           std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;

  // The line settings our side configured, as the master reports them.
  termios LineSettings() const;
  // Gives the line back the settings the kernel created it with (echo, signals, CR/LF
  // translation): what a device opened without configuring it would have.
  void RestoreInitialSettings();

  void Pull();

 private:
  int master_ = -1;
  int portSide_ = -1;
  std::string portPath_;
  termios initial_{};
};

// A new pair whose port takes `path`, the name of a terminal that has gone, as a new adapter
// takes a pulled one's; null when none does within `timeout`. A new terminal gets the lowest
// free number, so the pairs opened below that name on the way are kept in `below`, open for
// as long as the new one is used.
std::unique_ptr<PtyPair> PtyPairNamed(const std::string& path,
                                      std::vector<std::unique_ptr<PtyPair>>& below,
                                      std::chrono::milliseconds timeout);
