// Timing helpers the benchmarks share.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

using BenchClock = std::chrono::steady_clock;

inline double Milliseconds(BenchClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The median time of `repeats` runs of `once`, in milliseconds; -1 if any run failed.
inline double MedianMs(int repeats, const std::function<bool()>& once) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = BenchClock::now();
    if (!once()) return -1;
    times.push_back(Milliseconds(BenchClock::now() - start));
  }
  std::nth_element(times.begin(), times.begin() + repeats / 2, times.end());
  return times[static_cast<std::size_t>(repeats / 2)];
}
