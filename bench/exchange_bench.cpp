// Exchange figures against the simulated detector on a pseudo-terminal:
//  - one ReadStatus exchange, beside libmodbus reading the same two registers;
//  - one unanswered probe: open, wait, read, close;
//  - processor time used while waiting a second for a reply that never comes.
// Run: build/bench/kl395-exchange-bench [repeats]
#include <modbus.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench/median_time.h"
#include "device/detector.h"
#include "tests/support/sim_process.h"

namespace {

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void ReadStatusBesideLibmodbus(const std::string& device, int repeats) {
  const CommHandle port = OpenCommDevice(device, 9600);
  const double ours = MedianMs(repeats, [&] { return ReadStatus(port, 1).has_value(); });
  CloseCommPort(port);

  modbus_t* peer = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
  modbus_set_slave(peer, 1);
  modbus_connect(peer);
  std::uint16_t registers[2];
  const double theirs =
      MedianMs(repeats, [&] { return modbus_read_registers(peer, 0, 2, registers) == 2; });
  modbus_close(peer);
  modbus_free(peer);
  std::printf("ReadStatus exchange, median of %d:   ours %.2f ms, libmodbus %.2f ms\n", repeats,
              ours, theirs);
}

void UnansweredProbe(const std::string& device, int repeats) {
  const double probe = MedianMs(repeats, [&] {
    const CommHandle port = OpenCommDevice(device, 9600);
    const bool answered = ProbeAddress(port, 2);  // nobody at address 2
    CloseCommPort(port);
    return port && !answered;
  });
  std::printf("Unanswered probe, median of %d:      %.1f ms (open, wait, read, close)\n", repeats,
              probe);
}

void WaitingCost(const std::string& device) {
  const CommHandle port = OpenCommDevice(device, 9600);
  const double before = ProcessorSeconds();
  const auto start = BenchClock::now();
  WaitForInput(port, 7, 1000);
  const double wall = Milliseconds(BenchClock::now() - start) / 1000.0;
  const double used = ProcessorSeconds() - before;
  CloseCommPort(port);
  std::printf("Waiting %.2f s for no reply:          %.2f%% of a core\n", wall,
              100.0 * used / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  SimProcess sim({"--address", "1", "--baud", "9600"});
  if (sim.SlavePath().empty()) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  ReadStatusBesideLibmodbus(sim.SlavePath(), repeats);
  UnansweredProbe(sim.SlavePath(), std::max(5, repeats / 20));
  WaitingCost(sim.SlavePath());
  return 0;
}
