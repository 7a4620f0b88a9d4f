// The period kl395-cli poll holds against the simulated detector: the tool polls at the
// period given, and the time each line reaches its reader is noted; the mean period, its
// spread (standard deviation), the shortest and longest, and the drift over the run are
// printed.
// Run: build/bench/kl395-cli-poll-period-bench [polls] [period-ms]
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The arrival time of each line the tool writes on `fd`, until it ends.
std::vector<Clock::time_point> LineArrivals(int fd) {
  std::vector<Clock::time_point> arrivals;
  char buffer[512];
  for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
    const auto now = Clock::now();
    arrivals.insert(arrivals.end(),
                    static_cast<std::size_t>(std::count(buffer, buffer + count, '\n')), now);
  }
  return arrivals;
}

void Report(const std::vector<Clock::time_point>& lines, int period) {
  std::vector<double> gaps;
  for (std::size_t i = 1; i < lines.size(); ++i) gaps.push_back(Ms(lines[i] - lines[i - 1]));
  const double mean = Ms(lines.back() - lines.front()) / static_cast<double>(gaps.size());
  double squares = 0;
  for (const double gap : gaps) squares += (gap - mean) * (gap - mean);
  const double spread = std::sqrt(squares / static_cast<double>(gaps.size()));
  const auto [shortest, longest] = std::minmax_element(gaps.begin(), gaps.end());
  const double drift = Ms(lines.back() - lines.front()) - period * static_cast<double>(gaps.size());
  std::printf(
      "kl395-cli poll, %zu polls at %d ms: mean period %.2f ms, spread %.2f ms, shortest "
      "%.2f, longest %.2f, drift over the run %+.1f ms\n",
      lines.size(), period, mean, spread, *shortest, *longest, drift);
}

}  // namespace

int main(int argc, char** argv) {
  const int polls = argc > 1 ? std::max(3, std::atoi(argv[1])) : 100;
  const int period = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
  SimProcess sim({"--address", "1", "--baud", "9600"}, SimTiming::kLineTime);
  int output[2];
  if (sim.SlavePath().empty() || ::pipe(output) != 0) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  const pid_t cli = SpawnProgram(KL395_CLI_PATH,
                                 {"--device", sim.SlavePath(), "--period", std::to_string(period),
                                  "--count", std::to_string(polls), "poll"},
                                 {{STDOUT_FILENO, output[1]}});
  ::close(output[1]);
  const std::vector<Clock::time_point> lines = LineArrivals(output[0]);
  ::close(output[0]);
  int status = 0;
  ::waitpid(cli, &status, 0);
  if (static_cast<int>(lines.size()) != polls || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "poll did not run: %zu lines\n", lines.size());
    return 1;
  }
  Report(lines, period);
  return 0;
}
