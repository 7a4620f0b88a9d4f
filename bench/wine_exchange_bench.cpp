// The exchange figures of kl395-exchange-bench, taken through the Win32 serial backend: run
// under Wine they stand beside the Linux ones (for information only: Wine is not Windows).
// A simulated detector at address 1, 9600 baud, must be on the COM port, as
// tests/win32/run-under-wine.sh --bench links one:
//  - one ReadStatus exchange;
//  - one unanswered probe: open, wait, read, close;
//  - processor time used while waiting a second for a reply that never comes.
// Run: kl395-wine-exchange-bench.exe [COM number] [repeats]
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench/median_time.h"
#include "device/detector.h"

namespace {

double ProcessorSeconds() {
  FILETIME created{}, ended{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  const auto seconds = [](const FILETIME& time) {
    return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 |
                               time.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

void ReadStatusExchange(int portNumber, int repeats) {
  const CommHandle port = OpenCommPort(portNumber, 9600);
  const double exchange = MedianMs(repeats, [&] { return ReadStatus(port, 1).has_value(); });
  CloseCommPort(port);
  std::printf("ReadStatus exchange, median of %d:   %.2f ms\n", repeats, exchange);
}

void UnansweredProbe(int portNumber, int repeats) {
  const double probe = MedianMs(repeats, [&] {
    const CommHandle port = OpenCommPort(portNumber, 9600);
    const bool answered = ProbeAddress(port, 2);  // nobody at address 2
    CloseCommPort(port);
    return port && !answered;
  });
  std::printf("Unanswered probe, median of %d:      %.1f ms (open, wait, read, close)\n", repeats,
              probe);
}

void WaitingCost(int portNumber) {
  const CommHandle port = OpenCommPort(portNumber, 9600);
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
  const int portNumber = argc > 1 ? std::atoi(argv[1]) : 1;
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
  const CommHandle check = OpenCommPort(portNumber, 9600);
  const bool answers = check && ProbeAddress(check, 1);
  CloseCommPort(check);
  if (!answers) {
    std::fprintf(stderr, "no detector answers at address 1, 9600 baud, on COM%d\n", portNumber);
    return 1;
  }
  ReadStatusExchange(portNumber, repeats);
  UnansweredProbe(portNumber, std::max(5, repeats / 20));
  WaitingCost(portNumber);
  return 0;
}
