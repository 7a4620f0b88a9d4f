// How polling gets over one burst of noise: the simulated detector answers every poll
// correctly, but once, right after a reply, the line carries three extra bytes. The polls
// from that reply on are counted good and failed, for `kl395-cli poll` and for the window's
// acquisition (the fake window, ticked as fast as the polls go).
// Run: build/bench/kl395-noise-recovery-bench [polls] [kl395-cli]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "ui/fake/fake_window.h"
#include "ui/monitor_dialog.h"

namespace {

constexpr const char* kBurst = "burst 3";

// The lines the tool writes on `fd`, until it ends.
std::vector<std::string> ReadLines(int fd) {
  std::string text;
  char buffer[512];
  for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

void Report(const char* who, int good, int failed) {
  std::printf("%s: %d polls from the one a 3-byte burst follows: %d good, %d failed\n", who,
              good + failed, good, failed);
}

// The burst is asked for before the first poll, so it follows the first reply.
bool CommandLine(const std::string& cli, int polls) {
  SimProcess sim({"--address", "1", "--baud", "9600"}, SimTiming::kLineTime);
  int output[2];
  if (sim.SlavePath().empty() || sim.Command(kBurst) != "ok burst 3 0" || ::pipe(output) != 0) {
    return false;
  }
  const pid_t tool = SpawnProgram(
      cli,
      {"--device", sim.SlavePath(), "--period", "50", "--count", std::to_string(polls), "poll"},
      {{STDOUT_FILENO, output[1]}}, {STDERR_FILENO});
  ::close(output[1]);
  const std::vector<std::string> lines = ReadLines(output[0]);
  ::close(output[0]);
  if (WaitForExit(tool, std::chrono::minutes(5)) < 0 || lines.empty()) return false;
  const auto good = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find(" good") != std::string::npos;
  });
  Report("kl395-cli poll", static_cast<int>(good),
         static_cast<int>(lines.size()) - static_cast<int>(good));
  return true;
}

bool Window(int polls) {
  const TempPortsDir ports;
  SimProcess sim({"--address", "1", "--baud", "9600"}, SimTiming::kLineTime);
  if (sim.SlavePath().empty()) return false;
  ports.Link(1, sim.SlavePath());
  MonitorDialog dialog;
  ui::FakeWindow window(IDD_MAIN, dialog);
  window.Click(IDC_ACQUIRE_BUTTON);
  window.Tick();
  if (window.Text(IDC_SUCCESS_COUNT) != "1" || sim.Command(kBurst) != "ok burst 3 0") {
    return false;
  }
  for (int poll = 0; poll < polls; ++poll) window.Tick();
  const int good = std::atoi(window.Text(IDC_SUCCESS_COUNT).c_str()) - 1;
  Report("window acquisition", good, polls - good);
  window.Click(IDC_ACQUIRE_BUTTON);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int polls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  const std::string cli = argc > 2 ? argv[2] : KL395_CLI_PATH;
  if (!CommandLine(cli, polls) || !Window(polls)) {
    std::fprintf(stderr, "the simulator or the tool did not run\n");
    return 1;
  }
  return 0;
}
