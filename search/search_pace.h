// How far a scan has come, and how long the rest of it will take at the measured cost of a
// probe: what the command line's progress line and the window's search tooltip tell.
#pragma once

#include <array>
#include <chrono>
#include <optional>

class SearchPace {
 public:
  using Clock = std::chrono::steady_clock;

  // A scan of the 256 addresses at the rates ticked (1200 first; 1 takes part), begun at
  // `start`.
  void Start(const std::array<int, 5>& rateEnabled, Clock::time_point start);
  // A probe at `baudRate` ended at `now`; its cost is the time since the one before.
  void Probed(int baudRate, Clock::time_point now);

  int ProbesDone() const;
  int ProbesInAll() const;
  // The probes still to come, each at the mean cost of a probe at its own rate so far, or
  // at the mean of all while its rate has had none (rates differ: a wait can follow the
  // line's time); none before the first probe has ended.
  std::optional<std::chrono::milliseconds> TimeLeft() const;

 private:
  struct Rate {
    bool ticked = false;
    int probes = 0;
    Clock::duration spent{};
  };
  std::array<Rate, 5> rates_{};
  Clock::time_point lastEnd_{};
};

// A time left in whole hours, minutes and seconds, to the nearest second. A text shows the
// hours and minutes from an hour on, the minutes and seconds from a minute on.
struct TimeParts {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
};
TimeParts SplitTimeLeft(std::chrono::milliseconds left);
