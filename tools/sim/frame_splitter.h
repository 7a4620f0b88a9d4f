// Splits the bytes heard on the line into frames the RTU way: a frame ends where the line
// falls silent, so a partial or garbled frame is dropped at the next pause instead of
// spoiling the requests after it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class FrameSplitter {
 public:
  using Clock = std::chrono::steady_clock;

  // Bytes that arrived at `now`; the frame they belong to ends after `silence` without more.
  void Add(std::span<const std::uint8_t> bytes, Clock::time_point now, Clock::duration silence);
  // When the bytes heard so far become a frame, if any are pending.
  std::optional<Clock::time_point> Deadline() const;
  // The frame whose closing silence has passed by `now`.
  std::optional<std::vector<std::uint8_t>> Take(Clock::time_point now);
  // Every frame begun so far, the one still coming in included.
  std::uint64_t FramesHeard() const { return framesHeard_; }
  // When the latest bytes arrived: after a Take, the end of the frame taken.
  Clock::time_point LastHeard() const { return lastHeard_; }

 private:
  std::vector<std::uint8_t> pending_;
  std::uint64_t framesHeard_ = 0;
  Clock::time_point lastHeard_{};
  Clock::time_point deadline_{};
};

// The silence that ends a frame at a baud rate: 3.5 characters of 11 bits, but never less
// than a few milliseconds, which a pseudo-terminal's scheduling can put between two writes.
FrameSplitter::Clock::duration FrameSilence(int baudRate);
