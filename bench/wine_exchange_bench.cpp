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

#include "bench/exchange_figures.h"

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

}  // namespace

int main(int argc, char** argv) {
  const int portNumber = argc > 1 ? std::atoi(argv[1]) : 1;
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
  const CommHandle check = OpenCommPort(portNumber, 9600);
  const bool answers = check && ProbeAddress(check, 1).outcome.good();
  CloseCommPort(check);
  if (!answers) {
    std::fprintf(stderr, "no detector answers at address 1, 9600 baud, on COM%d\n", portNumber);
    return 1;
  }
  const OpenLine open = [&] { return OpenCommPort(portNumber, 9600); };
  std::printf("ReadStatus exchange, median of %d:   %.2f ms\n", repeats,
              ReadStatusMs(open, repeats));
  PrintUnansweredProbe(open, std::max(5, repeats / 20));
  PrintWaitingCost(open, ProcessorSeconds);
  return 0;
}
