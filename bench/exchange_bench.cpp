// Exchange figures against the simulated detector at 9600 baud:
//  - one ReadStatus exchange, beside libmodbus reading the same two registers, and ours
//    with no frame observer beside ours with one that formats every frame as a trace would:
//    on a line that keeps a real line's time, and on a bare pseudo-terminal, whose instant
//    replies leave only what the two masters themselves cost;
//  - one open and close of the port, beside the /proc scan its busy check makes;
//  - one unanswered probe: open, wait, read, close;
//  - processor time used while waiting a second for a reply that never comes.
// Run: build/bench/kl395-exchange-bench [repeats]
#include <modbus.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "bench/exchange_figures.h"
#include "serial/device_holders_posix.h"
#include "serial/rtu.h"
#include "tests/support/sim_process.h"

namespace {

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Side {
  std::function<void()> enter;  // before each of its batches; may be empty
  std::function<bool()> once;
};

// The medians of `repeats` runs of each side, taken in alternate batches of `batch` runs in
// the order ABBA ABBA ..., so that the machine's drift in speed weighs on both sides alike;
// -1 for both if a run failed.
std::pair<double, double> AlternatingMediansMs(int repeats, int batch, const Side& a,
                                               const Side& b) {
  std::vector<double> times[2];
  for (int turn = 0; turn < 2 * ((repeats + batch - 1) / batch); ++turn) {
    const int which = turn % 4 == 1 || turn % 4 == 2 ? 1 : 0;
    const Side& side = which == 0 ? a : b;
    const int runs = std::min(batch, repeats - static_cast<int>(times[which].size()));
    if (side.enter) side.enter();
    if (!TimeRuns(runs, side.once, times[which])) return {-1, -1};
  }
  return {Median(times[0]), Median(times[1])};
}

// What a frame trace does with every write and read: a line with the time, the direction
// and the bytes. Only its length is kept, so that the work cannot be left out.
long g_traceCharacters = 0;

void FormatFrameAndDropIt(const FrameEvent& event) {
  static const auto start = event.at;
  char head[32];
  std::snprintf(head, sizeof head, "%10.3f %s ", Milliseconds(event.at - start),
                event.direction == FrameDirection::kSent ? ">" : "<");
  const std::string line = head + HexBytes(event.bytes);
  g_traceCharacters += static_cast<long>(line.size());
}

void ReadStatusBesideLibmodbus(const std::string& device, int repeats, const char* line) {
  // Batches, so that the observer is not set and cleared between every two exchanges.
  constexpr int kBatch = 10;
  const CommHandle port = OpenCommDevice(device, 9600);
  const auto exchange = [&] { return static_cast<bool>(ReadStatus(port, 1)); };
  const auto [untraced, traced] =
      AlternatingMediansMs(repeats, kBatch, {[] { SetFrameObserver({}); }, exchange},
                           {[] { SetFrameObserver(FormatFrameAndDropIt); }, exchange});
  SetFrameObserver({});
  CloseCommPort(port);

  modbus_t* peer = modbus_new_rtu(device.c_str(), 9600, 'N', 8, 1);
  modbus_set_slave(peer, 1);
  modbus_connect(peer);
  std::uint16_t registers[2];
  const double theirs =
      MedianMs(repeats, [&] { return modbus_read_registers(peer, 0, 2, registers) == 2; });
  modbus_close(peer);
  modbus_free(peer);
  std::printf("ReadStatus exchange, %s, median of %d:\n", line, repeats);
  std::printf("  ours / libmodbus:                   %.2f ms / %.2f ms\n", untraced, theirs);
  std::printf(
      "  ours, frame trace off / on:         %.2f ms / %.2f ms (alternate batches of %d;"
      " %ld characters traced)\n",
      untraced, traced, kBatch, g_traceCharacters);
}

int ProcessCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    count += std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); });
  }
  return count;
}

// The open's busy check looks through every process's descriptors: an open and close beside
// that scan alone, whose difference is what the open costs without it. One run at a time on
// each side, as the processes the scan goes through come and go.
void OpenBesideBusyCheck(const std::string& device, int repeats) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return;
  const auto [open, scan] =
      AlternatingMediansMs(repeats, 1,
                           {{},
                            [&] {
                              const CommHandle port = OpenCommDevice(device, 9600);
                              CloseCommPort(port);
                              return static_cast<bool>(port);
                            }},
                           {{}, [&] { return !FindOtherReader(info.st_rdev); }});
  std::printf(
      "Open and close, median of %d:        %.3f ms; the busy check's /proc scan alone"
      " %.3f ms (%d processes)\n",
      repeats, open, scan, ProcessCount());
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  SimProcess sim({"--address", "1", "--baud", "9600"}, SimTiming::kLineTime);
  SimProcess instant({"--address", "1", "--baud", "9600"}, SimTiming::kInstant);
  if (sim.SlavePath().empty() || instant.SlavePath().empty()) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  const std::string& device = sim.SlavePath();
  const OpenLine open = [&] { return OpenCommDevice(device, 9600); };
  ReadStatusBesideLibmodbus(device, repeats, "paced line (10 ms turnaround)");
  ReadStatusBesideLibmodbus(instant.SlavePath(), repeats, "pseudo-terminal, instant replies");
  OpenBesideBusyCheck(device, repeats);
  PrintUnansweredProbe(open, std::max(5, repeats / 20));
  PrintWaitingCost(open, ProcessorSeconds);
  return 0;
}
