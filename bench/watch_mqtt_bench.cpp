// The cost of a watch left running: kl395-cli poll of two detectors on one line with MQTT,
// polled as fast as the simulated detectors answer (--period 10), against mosquitto on
// loopback. The processor time and peak resident memory the tool took, from the kernel's
// account of the child (wait4), per poll and scaled to a day at the default period, and the
// readings that reached the broker. A short run first gives the memory to compare with.
// Run: build/bench/kl395-watch-mqtt-bench [polls]   (default 100000)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "tests/watch/mqtt_peers.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Cost {
  double cpuSeconds = 0;
  long peakKilobytes = 0;
  double wallSeconds = 0;
  std::size_t published = 0;  // readings the broker passed on
};

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// One poll of `rounds` rounds of the two detectors, its outputs to /dev/null. The readings
// are taken from the subscriber as they come, on a thread of their own, so that the broker
// never has to drop them for a reader that lags.
std::optional<Cost> Watch(const Broker& broker, const SimProcess& sim, long rounds) {
  Subscriber readings(broker, "kl395/+/+/reading");
  const auto expected = static_cast<std::size_t>(2 * rounds);
  std::atomic<bool> ended = false;
  std::thread reader([&] {
    const auto all = [&](const MqttReceived&) { return readings.received.size() >= expected; };
    while (!readings.WaitFor(all, 1s) && !ended) {
    }
    readings.WaitFor(all, 10s);
  });
  const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const auto started = Clock::now();
  const pid_t cli = SpawnProgram(
      KL395_CLI_PATH,
      {"--device", sim.SlavePath(), "--baud", "19200", "--address", "1,2", "--period", "10",
       "--count", std::to_string(rounds), "--format", "jsonl", "--mqtt", broker.Url(), "poll"},
      {{STDOUT_FILENO, nothing}, {STDERR_FILENO, nothing}});
  ::close(nothing);
  int status = 0;
  rusage usage{};
  const bool ran = cli > 0 && ::wait4(cli, &status, 0, &usage) == cli && WIFEXITED(status) &&
                   WEXITSTATUS(status) == 0;
  const double wall = std::chrono::duration<double>(Clock::now() - started).count();
  ended = true;
  reader.join();
  if (!ran) return std::nullopt;
  return Cost{Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss, wall,
              readings.received.size()};
}

}  // namespace

int main(int argc, char** argv) {
  const long polls = argc > 1 ? std::max(2000L, std::atol(argv[1])) : 100'000;
  Broker broker;
  SimProcess sim({"--address", "1", "--also", "2", "--baud", "19200"}, SimTiming::kLineTime);
  if (!broker.Start() || sim.SlavePath().empty()) {
    std::fprintf(stderr, "the broker or the simulator did not start\n");
    return 1;
  }
  const auto shortRun = Watch(broker, sim, 500);
  const auto longRun = Watch(broker, sim, polls / 2);
  if (!shortRun || !longRun) {
    std::fprintf(stderr, "kl395-cli poll did not run to its end\n");
    return 1;
  }
  const double perPoll = longRun->cpuSeconds / static_cast<double>(polls);
  // Two detectors at the default period of 500 ms: four polls a second.
  const double pollsADay = 4.0 * 86'400;
  std::printf(
      "kl395-cli poll of 2 detectors with MQTT, %ld polls in %.0f s: processor time %.2f s "
      "(%.1f us a poll; %.1f s a day at the default period, 345600 polls), peak resident "
      "memory %.1f MB (%.1f MB after 1000 polls); %zu of %ld readings reached the broker\n",
      polls, longRun->wallSeconds, longRun->cpuSeconds, perPoll * 1e6, perPoll * pollsADay,
      static_cast<double>(longRun->peakKilobytes) / 1024,
      static_cast<double>(shortRun->peakKilobytes) / 1024, longRun->published, polls);
  return 0;
}
