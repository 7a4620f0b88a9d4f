// Search figures against the simulated detector on a pseudo-terminal, where nobody answers
// the addresses probed:
//  - one unanswered probe as a five-rate scan makes it (open, probe, close, report), with
//    the window's wait and with the 100 ms a technician may give kl395-cli search --wait
//    (which also ends a silent probe at its wait):
//    the median of the intervals between reports, and the full scan of 1280 probes that
//    implies;
//  - the time from a stop press to the worker's end, the presses spread over a probe.
// Run: build/bench/kl395-search-bench [repeats]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "search/search_worker.h"
#include "tests/support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

constexpr unsigned kShortWaitMs = 100;

void StartScan() {
  g_searchRateEnabled = {1, 1, 1, 1, 1};
  g_searchError.clear();
  g_searchActive = 1;
}

// Returns the median probe, in milliseconds.
double ProbePace(const PortOpener& openPort, int repeats, unsigned waitMs) {
  std::vector<Clock::time_point> reports = {Clock::now()};
  const SearchWindow window{[&](int) {
                              reports.push_back(Clock::now());
                              if (static_cast<int>(reports.size()) > repeats) g_searchActive = 0;
                              return true;
                            },
                            [](std::string_view) {}};
  StartScan();
  SearchWorker(window, openPort, SearchScope{.scanOn = true, .probeWaitMs = waitMs});
  std::vector<double> probes;
  for (std::size_t i = 1; i < reports.size(); ++i) {
    probes.push_back(Milliseconds(reports[i] - reports[i - 1]));
  }
  const double median = Median(probes);
  std::printf(
      "Unanswered probe in a scan, wait %u ms, median of %zu: %.1f ms (a full five-rate "
      "scan: %.2f min)\n",
      waitMs, probes.size(), median, median * 1280 / 60000);
  return median;
}

void StopToEnd(const PortOpener& openPort, int repeats, double probeMs) {
  std::vector<double> waits;
  for (int i = 0; i < repeats; ++i) {
    std::atomic<int> reports = 0;
    const SearchWindow window{[&](int) {
                                ++reports;
                                return true;
                              },
                              [](std::string_view) {}};
    StartScan();
    std::thread worker([&] { SearchWorker(window, openPort); });
    // From the first report on, the next probe is under way; press somewhere inside it.
    while (reports == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(probeMs * i / repeats));
    const auto pressed = Clock::now();
    g_searchActive = 0;
    worker.join();
    waits.push_back(Milliseconds(Clock::now() - pressed));
  }
  std::printf("Stop press to the worker's end, %d presses: median %.1f ms, longest %.1f ms\n",
              repeats, Median(waits), *std::max_element(waits.begin(), waits.end()));
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  SimProcess sim({"--address", "255"}, SimTiming::kLineTime);
  if (sim.SlavePath().empty()) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  const PortOpener openPort = [&](int, int baudRate) {
    return OpenCommDevice(sim.SlavePath(), baudRate);
  };
  // As kl395-cli search --wait opens each probe's port.
  const PortOpener openQuickPort = [&](int portNumber, int baudRate) {
    const CommHandle port = openPort(portNumber, baudRate);
    if (port) SetCommSilenceEndsWait(port, true);
    return port;
  };
  ProbePace(openQuickPort, repeats, kShortWaitMs);
  const double probeMs = ProbePace(openPort, repeats, kProbeWaitMs);
  StopToEnd(openPort, repeats, probeMs);
  return 0;
}
