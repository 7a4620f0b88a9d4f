// Search figures on a line that keeps a real line's time (the simulated detector, paced: ten
// bit times a byte, a 10 ms turnaround):
//  - one ReadStatus exchange at each rate, beside the line's own floor: the request's and the
//    reply's bytes and the turnaround;
//  - an unanswered probe inside a running five-rate scan, at each rate, with the window's
//    wait (as kl395-cli search without --wait), with --wait 100 and with --wait auto, each
//    port set as kl395-cli sets it; and the full scan of 1280 probes they multiply out to,
//    beside --wait auto's floor, 256 times the sum over the rates of the line time of nine
//    bytes and the 50 ms allowance;
//  - how many probes with --wait auto find a detector at 1200 baud that takes 45 ms to turn
//    round;
//  - with "full", a whole five-rate scan with --wait auto, timed.
// Run: build/bench/kl395-line-timing-bench [probes per rate] [full]
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/exchange_figures.h"
#include "search/line_timed_wait.h"
#include "search/search_worker.h"
#include "serial/comm_port_backend.h"
#include "serial/line_time.h"
#include "tests/support/sim_process.h"

namespace {

constexpr std::size_t kRequestBytes = 8;
constexpr std::size_t kStatusReplyBytes = 9;
constexpr double kTurnaroundMs = 10;  // the simulator's default
constexpr int kAddresses = 256;

double LineMs(std::size_t bytes, int rate) {
  return std::chrono::duration<double, std::milli>(LineTime(bytes, rate)).count();
}

// How the scan's ports are set, as kl395-cli search sets them for each kind of --wait.
struct WaitKind {
  const char* name;
  bool quick;  // --wait given: silence ends the wait, a begun reply is read to its end
  SearchScope scope;
};

const std::array<WaitKind, 3> kWaits = {{
    {"default (500 ms)", false, {}},
    {"--wait 100", true, {.probeWaitMs = 100}},
    {"--wait auto", true, {.lineTimedWait = true}},
}};

PortOpener ScanPorts(const std::string& device, bool quick) {
  return [device, quick](int, int baudRate) {
    const CommHandle port = OpenCommDevice(device, baudRate);
    if (port && quick) {
      SetCommSilenceEndsWait(port, true);
      SetCommReadsBegunReply(port, true);
    }
    return port;
  };
}

void StartScan() {
  g_searchRateEnabled = {1, 1, 1, 1, 1};
  g_searchError.clear();
  g_searchActive = 1;
}

bool CheckStarted(const SimProcess& sim) {
  if (!sim.SlavePath().empty()) return true;
  std::fprintf(stderr, "the simulator did not start\n");
  return false;
}

void ExchangeBesideFloor(int repeats) {
  std::printf("ReadStatus exchange (8-byte request, 9-byte reply), median of %d:\n", repeats);
  std::printf("  %6s  %10s  %10s  %8s\n", "baud", "exchange", "floor", "over");
  for (const int rate : kBaudRates) {
    SimProcess sim({"--address", "1", "--baud", std::to_string(rate)}, SimTiming::kLineTime);
    if (!CheckStarted(sim)) return;
    const double exchange =
        ReadStatusMs([&] { return OpenCommDevice(sim.SlavePath(), rate); }, repeats);
    const double floor = LineMs(kRequestBytes + kStatusReplyBytes, rate) + kTurnaroundMs;
    std::printf("  %6d  %7.1f ms  %7.1f ms  %5.1f ms\n", rate, exchange, floor, exchange - floor);
  }
}

// The median probe at each rate, in milliseconds, from the reports of a scan of the first
// `addresses` addresses at all five rates on a silent line.
std::map<int, double> ProbesInAScan(const std::string& device, const WaitKind& wait,
                                    int addresses) {
  std::map<int, std::vector<double>> probes;
  BenchClock::time_point last = BenchClock::now();
  int reports = 0;
  const SearchWindow window{[&](int) {
                              const BenchClock::time_point now = BenchClock::now();
                              probes[g_searchBaud].push_back(Milliseconds(now - last));
                              last = now;
                              if (++reports == addresses * 5) g_searchActive = 0;
                              return true;
                            },
                            [](std::string_view) {}};
  SearchScope scope = wait.scope;
  scope.scanOn = true;
  StartScan();
  SearchWorker(window, ScanPorts(device, wait.quick), scope);
  std::map<int, double> medians;
  for (auto& [rate, times] : probes) medians[rate] = Median(times);
  return medians;
}

void UnansweredProbes(int addresses) {
  SimProcess sim({"--address", "255"}, SimTiming::kLineTime);
  if (!CheckStarted(sim)) return;
  std::vector<std::map<int, double>> byWait;
  for (const WaitKind& wait : kWaits)
    byWait.push_back(ProbesInAScan(sim.SlavePath(), wait, addresses));
  std::printf("\nUnanswered probe inside a five-rate scan, median of %d at each rate:\n",
              addresses);
  std::printf("  %6s", "baud");
  for (const WaitKind& wait : kWaits) std::printf("  %17s", wait.name);
  std::printf("  %17s\n", "auto's wait");
  std::vector<double> scans(kWaits.size());
  double floor = 0;
  for (const int rate : kBaudRates) {
    std::printf("  %6d", rate);
    for (std::size_t i = 0; i < kWaits.size(); ++i) {
      std::printf("  %14.1f ms", byWait[i][rate]);
      scans[i] += byWait[i][rate] * kAddresses;
    }
    std::printf("  %14u ms\n", LineTimedProbeWaitMs(rate));
    floor += (LineMs(kRequestBytes + 1, rate) + kTurnaroundAllowanceMs) * kAddresses;
  }
  std::printf("\nA full five-rate scan of a silent line, multiplied out:\n");
  for (std::size_t i = 0; i < kWaits.size(); ++i) {
    std::printf("  %-17s %7.1f s (%.1f min)\n", kWaits[i].name, scans[i] / 1000, scans[i] / 60000);
  }
  std::printf(
      "  --wait auto's floor, 256 x sum(9 bytes' line time + 50 ms): %.1f s;"
      " --wait auto is %.3f x that\n",
      floor / 1000, scans.back() / floor);
}

// A detector at 1200 baud that takes 45 of the 50 ms --wait auto allows to turn round, probed
// again and again with pauses between, as the other rates' probes make them in a scan. For a
// probe that misses it, when the reply's first byte did come: the simulator is a process on
// a busy machine, and a reply it sends late is late.
void SlowTurnaroundFound(int probes) {
  SimProcess sim({"--address", "1", "--baud", "1200", "--turnaround", "45"}, SimTiming::kLineTime);
  if (!CheckStarted(sim)) return;
  const PortOpener open = ScanPorts(sim.SlavePath(), true);
  constexpr auto kPause = std::chrono::milliseconds(150);
  int found = 0;
  std::string late;
  for (int i = 0; i < probes; ++i) {
    const CommHandle port = open(0, 1200);
    const BenchClock::time_point sent = BenchClock::now();
    if (ProbeAddress(port, 1, LineTimedProbeWaitMs(1200))) {
      ++found;
    } else if (WaitForInput(port, 1, 1000) > 0) {
      late += " " + std::to_string(static_cast<int>(Milliseconds(BenchClock::now() - sent)));
    }
    CloseCommPort(port);
    std::this_thread::sleep_for(kPause);
  }
  std::printf(
      "\n--wait auto (%u ms) at 1200 baud, a detector with a 45 ms turnaround (its reply's"
      " first byte due 120 ms after the request): found by %d of %d probes\n",
      LineTimedProbeWaitMs(1200), found, probes);
  if (!late.empty())
    std::printf("  the missed replies' first bytes came at (ms):%s\n", late.c_str());
}

void FullScan() {
  SimProcess sim({"--address", "255"}, SimTiming::kLineTime);
  if (!CheckStarted(sim)) return;
  const SearchWindow window{[](int) { return true; }, [](std::string_view) {}};
  StartScan();
  const BenchClock::time_point start = BenchClock::now();
  SearchWorker(window, ScanPorts(sim.SlavePath(), true), {.scanOn = true, .lineTimedWait = true});
  std::printf("\nA whole five-rate scan of a silent line with --wait auto, timed: %.1f s\n",
              Milliseconds(BenchClock::now() - start) / 1000);
}

}  // namespace

int main(int argc, char** argv) {
  const int perRate = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  ExchangeBesideFloor(perRate);
  UnansweredProbes(perRate);
  SlowTurnaroundFound(10 * perRate);
  if (argc > 2 && std::strcmp(argv[2], "full") == 0) FullScan();
  return 0;
}
