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

#include "bench/exchange_figures.h"
#include "tests/support/sim_process.h"

namespace {

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void ReadStatusBesideLibmodbus(const std::string& device, int repeats) {
  const double ours = ReadStatusMs([&] { return OpenCommDevice(device, 9600); }, repeats);
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

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  SimProcess sim({"--address", "1", "--baud", "9600"});
  if (sim.SlavePath().empty()) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  const std::string& device = sim.SlavePath();
  const OpenLine open = [&] { return OpenCommDevice(device, 9600); };
  ReadStatusBesideLibmodbus(device, repeats);
  PrintUnansweredProbe(open, std::max(5, repeats / 20));
  PrintWaitingCost(open, ProcessorSeconds);
  return 0;
}
