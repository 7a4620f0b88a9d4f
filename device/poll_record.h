// What acquisition's tooltips tell beyond the counters: the failed polls since the start by
// cause, the last failure with its frames, and when the reading the lamps show was taken.
// The lamps keep the last good reading while polls fail, so a green lamp could otherwise
// stay lit long after the detector stopped answering without anyone noticing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/rtu.h"

// One failed poll may be a glitch on the line; from the second in a row the detector counts
// as not answering: the window greys its lamps, the command line tells the watchers.
inline constexpr std::uint64_t kFailedPollsBeforeStale = 2;

class PollRecord {
 public:
  using Clock = std::chrono::system_clock;

  // A new acquisition: nothing recorded.
  void Restart() { *this = PollRecord(); }
  void Good(Clock::time_point at);
  void Failed(const ExchangeOutcome& outcome, Clock::time_point at);

  // Empty before the first failure.
  std::string FailureTip() const;
  // Empty before the first good poll.
  std::string ReadingTip() const;
  // The polls that failed since the last good one, or since the start before the first.
  std::uint64_t FailedInARow() const { return failedSinceGood_; }

 private:
  struct Failure {
    std::string cause;
    Clock::time_point at;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> received;
  };

  std::vector<std::pair<std::string, std::uint64_t>> causes_;  // in order of first occurrence
  std::uint64_t failed_ = 0;
  std::optional<Failure> lastFailure_;
  std::optional<Clock::time_point> lastGood_;
  std::uint64_t failedSinceGood_ = 0;
};
