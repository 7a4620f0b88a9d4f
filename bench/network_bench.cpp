// Network line figures on loopback, in one run against one simulated detector (address 1,
// 9600 baud, keeping a line's time): a ReadStatus exchange on its pseudo-terminal directly,
// through ser2net in raw (socket://) and RFC 2217 (rfc2217://) mode, and through the libmodbus
// Modbus TCP peer (tcp://, which answers from its own registers, with no serial line behind
// it); the processor time of ours in each exchange; and the time to open and close each kind
// of line, which a search pays for every probe.
// Run: build/bench/kl395-network-bench [repeats]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/exchange_figures.h"
#include "tests/support/network_peers.h"
#include "tests/support/sim_process.h"

namespace {

double ProcessorMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Figures {
  double exchangeMs = -1;
  double processorMs = -1;  // ours, per exchange
  double openMs = -1;       // open and close
};

Figures Measure(const std::string& device, int repeats) {
  Figures figures;
  const CommHandle port = OpenCommDevice(device, 9600);
  if (!port) return figures;
  ReadStatus(port, 1);  // the first, off the clock
  const double before = ProcessorMs();
  figures.exchangeMs = MedianMs(repeats, [&] { return static_cast<bool>(ReadStatus(port, 1)); });
  figures.processorMs = (ProcessorMs() - before) / repeats;
  CloseCommPort(port);
  figures.openMs = MedianMs(repeats / 4 + 1, [&] {
    const CommHandle opened = OpenCommDevice(device, 9600);
    CloseCommPort(opened);
    if (!opened) std::fprintf(stderr, "%s: %s\n", device.c_str(), LastCommError().message.c_str());
    return static_cast<bool>(opened);
  });
  return figures;
}

void Print(const char* what, const Figures& figures) {
  std::printf("%-34s %8.2f %10.3f %10.2f\n", what, figures.exchangeMs, figures.processorMs,
              figures.openMs);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(4, std::atoi(argv[1])) : 200;
  SimProcess sim({}, SimTiming::kLineTime);
  ModbusTcpPeer peer;
  if (sim.SlavePath().empty() || !peer.Running()) {
    std::fprintf(stderr, "kl395-network-bench: the simulator or the peer did not start\n");
    return 1;
  }
  std::printf("ReadStatus on loopback, median of %d   exchange ms  ours cpu ms  open+close ms\n",
              repeats);
  // The terminal first: once ser2net has had it open, our open finds it busy for a while.
  Print("pseudo-terminal directly", Measure(sim.SlavePath(), repeats));
  Ser2net raw(sim.SlavePath(), Ser2net::Mode::kRaw);
  Ser2net telnet(sim.SlavePath(), Ser2net::Mode::kRfc2217);
  if (!raw.Running() || !telnet.Running()) {
    std::fprintf(stderr, "kl395-network-bench: ser2net did not start\n");
    return 1;
  }
  Print("socket:// through ser2net (raw)", Measure(raw.Url(), repeats));
  Print("rfc2217:// through ser2net", Measure(telnet.Url(), repeats));
  Print("tcp:// to libmodbus (no serial line)", Measure(peer.Url(), repeats));
  return 0;
}
