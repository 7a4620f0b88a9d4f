// How soon a leak reaches whoever watches the broker: a leak starts on the simulated detector
// (its console), kl395-cli poll --mqtt reads it at its next poll and publishes ON, and
// mosquitto_sub, subscribed to the state topic on a mosquitto on loopback, prints it. Each
// start comes at a random moment of the period, as a real leak does; the median, the
// shortest and the longest delay of the trials are printed.
// Run: build/bench/kl395-leak-to-mqtt-bench [trials] [period-ms]   (default 20, 500)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/sim_process.h"
#include "tests/watch/mqtt_peers.h"
#include "tools/cli/ha_discovery.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string MachineName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int period = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
  Broker broker;
  SimProcess sim({"--address", "1"}, SimTiming::kLineTime);
  if (!broker.Start() || sim.SlavePath().empty()) {
    std::fprintf(stderr, "the broker or the simulator did not start\n");
    return 1;
  }
  const MqttNaming naming = MakeMqttNaming(MachineName(), sim.SlavePath(), "homeassistant");
  const std::string leak = DetectorTopic(naming, 1, "leak");
  Subscriber states(broker, leak);
  CliProcess cli({"--device", sim.SlavePath(), "--period", std::to_string(period), "--mqtt",
                  broker.Url(), "poll"});
  if (!states.WaitFor(leak, "OFF", 20s)) {
    std::fprintf(stderr, "no OFF from the tool: %s\n", cli.error.c_str());
    return 1;
  }
  std::mt19937 random(395);
  std::uniform_int_distribution<int> phase(0, period);
  std::vector<double> delays;
  for (int trial = 0; trial < trials; ++trial) {
    std::this_thread::sleep_for(std::chrono::milliseconds(period + phase(random)));
    const std::size_t from = states.received.size();
    const auto started = Clock::now();
    sim.Command("leak 1");
    if (!states.WaitFor(leak, "ON", 20s, from)) {
      std::fprintf(stderr, "no ON from the tool: %s\n", cli.error.c_str());
      return 1;
    }
    delays.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    const std::size_t ended = states.received.size();
    sim.Command("leak 0");
    states.WaitFor(leak, "OFF", 20s, ended);
  }
  std::sort(delays.begin(), delays.end());
  const std::size_t middle = delays.size() / 2;
  const double median =
      delays.size() % 2 ? delays[middle] : (delays[middle - 1] + delays[middle]) / 2;
  std::printf(
      "from a leak starting on the simulator to ON at mosquitto_sub, %d trials at a period of "
      "%d ms: median %.0f ms, shortest %.0f ms, longest %.0f ms\n",
      trials, period, median, delays.front(), delays.back());
  return 0;
}
