// The exchange figures both benchmark programs print, on a line to a simulated detector at
// address 1, 9600 baud: the Linux one opens it by its device, the Windows one by COM number.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

#include "device/detector.h"

using BenchClock = std::chrono::steady_clock;
using OpenLine = std::function<CommHandle()>;

inline double Milliseconds(BenchClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Adds the times of `repeats` runs of `once` to `times`, in milliseconds; false as soon as
// a run fails.
inline bool TimeRuns(int repeats, const std::function<bool()>& once, std::vector<double>& times) {
  for (int i = 0; i < repeats; ++i) {
    const auto start = BenchClock::now();
    if (!once()) return false;
    times.push_back(Milliseconds(BenchClock::now() - start));
  }
  return true;
}

// The median of the times, which it reorders; -1 when there are none.
inline double Median(std::vector<double>& times) {
  if (times.empty()) return -1;
  const auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
  std::nth_element(times.begin(), middle, times.end());
  return *middle;
}

// The median time of `repeats` runs of `once`, in milliseconds; -1 if any run failed.
inline double MedianMs(int repeats, const std::function<bool()>& once) {
  std::vector<double> times;
  return TimeRuns(repeats, once, times) ? Median(times) : -1;
}

// One ReadStatus exchange on a port kept open, median of `repeats`.
inline double ReadStatusMs(const OpenLine& open, int repeats) {
  const CommHandle port = open();
  const double exchange = MedianMs(repeats, [&] { return static_cast<bool>(ReadStatus(port, 1)); });
  CloseCommPort(port);
  return exchange;
}

// One unanswered probe: open, wait, read, close.
inline void PrintUnansweredProbe(const OpenLine& open, int repeats) {
  const double probe = MedianMs(repeats, [&] {
    const CommHandle port = open();
    const bool answered = static_cast<bool>(ProbeAddress(port, 2));  // nobody at address 2
    CloseCommPort(port);
    return port && !answered;
  });
  std::printf("Unanswered probe, median of %d:      %.1f ms (open, wait, read, close)\n", repeats,
              probe);
}

// Processor time used while waiting a second for a reply that never comes.
inline void PrintWaitingCost(const OpenLine& open, double (*processorSeconds)()) {
  const CommHandle port = open();
  const double before = processorSeconds();
  const auto start = BenchClock::now();
  WaitForInput(port, 7, 1000);
  const double wall = Milliseconds(BenchClock::now() - start) / 1000.0;
  const double used = processorSeconds() - before;
  CloseCommPort(port);
  std::printf("Waiting %.2f s for no reply:          %.2f%% of a core\n", wall,
              100.0 * used / wall);
}
