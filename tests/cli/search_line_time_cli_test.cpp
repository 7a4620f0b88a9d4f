// kl395-cli search against detectors that keep a real line's time: short waits that still
// find a detector at 1200 baud, waits taken from the line at every rate, and the progress
// line a search keeps on a terminal.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "device/detector.h"
#include "tests/cli/cli_process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/search_progress_line.h"

namespace {

using namespace std::chrono_literals;

// A detector's reply has begun by the end of a 100 ms wait at 1200 baud (its request, a
// 10 ms turnaround and one byte take 85 ms) and is whole only at 135 ms: it is read whole.
TEST(CliSearchOnTheLine, AShortWaitFindsADetectorWhoseReplyHasBegun) {
  SimProcess sim({"--address", "1", "--baud", "1200"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  CliProcess cli({"--device", sim.SlavePath(), "--wait", "100", "search", "1200"});
  EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
  EXPECT_EQ(cli.output, "baud: 1200\naddress: 1\n");
}

TEST(CliSearchOnTheLine, WaitAutoIsTakenFromTheLine) {
  const CliParse parse = ParseCliArguments({"--wait", "auto", "search"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_TRUE(parse.options->lineTimedWait);
  EXPECT_FALSE(parse.options->probeWaitMs);
  EXPECT_TRUE(ProbeWaitChosen(*parse.options));
  EXPECT_FALSE(ProbeWaitChosen(*ParseCliArguments({"search"}).options));
  const CliParse wrong = ParseCliArguments({"--wait", "Auto", "search"});
  EXPECT_FALSE(wrong.options);
  EXPECT_EQ(wrong.message, "--wait must be auto or a whole number from 10 to 10000, not 'Auto'");
  EXPECT_FALSE(ParseCliArguments({"--wait", "auto", "--wait", "100", "search"}).options);
  EXPECT_FALSE(ParseCliArguments({"--wait", "auto", "read-status"}).options);
}

// A scan of all five rates finds a detector at whichever rate it talks. One line at a time:
// lines side by side would keep the machine's two cores from keeping their time.
TEST(CliSearchOnTheLine, WaitAutoFindsADetectorAtEveryRate) {
  for (const int rate : kBaudRates) {
    const std::string baud = std::to_string(rate);
    SCOPED_TRACE(baud);
    SimProcess sim({"--address", "0", "--baud", baud}, SimTiming::kLineTime);
    ASSERT_FALSE(sim.SlavePath().empty());
    CliProcess cli({"--device", sim.SlavePath(), "--wait", "auto", "search"});
    EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
    EXPECT_EQ(cli.output, "baud: " + baud + "\naddress: 0\n");
  }
}

// The slowest rate and a detector that takes 45 of the 50 ms it is allowed to turn round. The
// simulator is a process on a busy machine, and a reply it sends late is late: a search that
// misses the detector is tried again, and one of three must find it, as all would with a wait
// too short for it.
TEST(CliSearchOnTheLine, WaitAutoFindsADetectorSlowToTurnRoundAt1200Baud) {
  SimProcess sim({"--address", "2", "--baud", "1200", "--turnaround", "45"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  std::string misses;
  for (int attempt = 0; attempt < 3; ++attempt) {
    CliProcess cli({"--device", sim.SlavePath(), "--wait", "auto", "search", "1200"});
    if (cli.WaitForOutput("baud: 1200\naddress: 2\n", 10s)) {
      EXPECT_EQ(cli.Wait(10s), 0) << cli.error;
      EXPECT_EQ(cli.error,
                "no reply at 1200 baud from address 0\nno reply at 1200 baud from address 1\n");
      return;
    }
    // Stopped, not killed: a killed tool would leave the terminal exclusive.
    cli.Signal(SIGINT);
    cli.Wait(10s);
    misses += cli.error;
  }
  ADD_FAILURE() << "never found:\n" << misses;
}

TEST(CliSearchProgress, TheLineTellsTheProbeTheFindsAndTheTimeLeft) {
  const auto start = SearchPace::Clock::time_point() + std::chrono::hours(1);
  SearchPace pace;
  pace.Start({1, 1, 1, 1, 1}, start);
  for (int i = 0; i < 5; ++i) pace.Probed(kBaudRates[i], start + 100ms * (i + 1));
  EXPECT_EQ(ProgressLineText(pace, "19200 baud", 0, 1),
            "probe 5 of 1280 (19200 baud, address 0), 1 found, 2 min 8 s left");
}

// The tool's standard error on a pseudo-terminal, as a technician's terminal shows it.
class Terminal {
 public:
  Terminal() : fd_(open(pty_.PortPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() { close(fd_); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  int fd() const { return fd_; }
  // Reads what the tool writes until `text` has come or the time is up.
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (seen.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      ReadFor(50ms);
    }
    return true;
  }
  // Reads until nothing more comes.
  void ReadToTheEnd() {
    while (ReadFor(200ms)) {
    }
  }

  std::string seen;

 private:
  bool ReadFor(std::chrono::milliseconds timeout) {
    const std::vector<std::uint8_t> bytes = pty_.Receive(4096, timeout);
    seen.append(bytes.begin(), bytes.end());
    return !bytes.empty();
  }

  PtyPair pty_;
  int fd_;
};

// On a terminal the misses that are mere silence make no lines: one line keeps the count,
// the finds and the time left; anything else a probe met gets a line of its own above it.
// Ctrl-C leaves the line as it stood, ended, and the search's end follows below it.
TEST(CliSearchProgress, OnATerminalOneLineKeepsCountAndEndsCleanlyOnCtrlC) {
  // A detector at address 1, and two at address 2 whose replies collide.
  SimProcess sim({"--address", "1", "--also", "2", "--also", "2"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  Terminal terminal;
  CliProcess cli({"--device", sim.SlavePath(), "--all", "--wait", "auto", "search", "9600"},
                 CliProcess::kPiped, terminal.fd());
  ASSERT_TRUE(terminal.WaitFor("probe 4 of 256 (9600 baud, address 3), 1 found, ", 10s))
      << terminal.seen;
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 0) << "a detector answered";
  terminal.ReadToTheEnd();
  EXPECT_EQ(cli.output, "9600 baud, address 1\n");
  const std::string& seen = terminal.seen;
  EXPECT_NE(seen.find("\rprobe 1 of 256 (9600 baud, address 0), 0 found, "), std::string::npos)
      << seen;
  EXPECT_NE(seen.find("\rgarbled reply at 9600 baud from address 2: "), std::string::npos) << seen;
  EXPECT_EQ(seen.find("no reply at"), std::string::npos) << seen;
  EXPECT_TRUE(std::regex_search(
      seen,
      std::regex("\rprobe \\d+ of 256 \\(9600 baud, address \\d+\\), 1 found, [0-9a-z ]+ left\n"
                 "kl395-cli: \\d+ probes missed: \\d+ no reply, 1 [a-zA-Z ]+\n"
                 "kl395-cli: 1 detector answered\n"
                 "kl395-cli: search stopped\n$")))
      << seen;
}

// A second Ctrl-C ends the tool at once, below the line as the first one left it: both come
// while a probe waits its 300 ms.
TEST(CliSearchProgress, ASecondCtrlCEndsItBelowTheLine) {
  SimProcess sim({"--address", "255"}, SimTiming::kLineTime);
  ASSERT_FALSE(sim.SlavePath().empty());
  Terminal terminal;
  CliProcess cli({"--device", sim.SlavePath(), "--wait", "300", "search", "9600"},
                 CliProcess::kPiped, terminal.fd());
  ASSERT_TRUE(terminal.WaitFor(" left", 10s)) << terminal.seen;
  cli.Signal(SIGINT);
  std::this_thread::sleep_for(50ms);  // two signals, not one pending twice
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 130);
  terminal.ReadToTheEnd();
  EXPECT_TRUE(terminal.seen.ends_with(" left\nkl395-cli: stopped at once\n")) << terminal.seen;
}

}  // namespace
