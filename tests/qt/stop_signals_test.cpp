// The Qt program's window in acquisition on the simulator's terminal, ended from outside by
// Ctrl-C, SIGTERM or SIGHUP: it must leave the terminal as its close box does, free for the
// next program, and not exclusive, which would refuse every later open as busy.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "serial/comm_port.h"
#include "tests/support/child_process.h"
#include "tests/support/exclusive_terminal.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"

namespace {

using namespace std::chrono_literals;

class SignalledWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sim_.SlavePath().empty());
    ports_.Link(1, sim_.SlavePath());
  }
  // Starts the window; returns once its acquisition holds the terminal.
  pid_t StartAcquiring() {
    const pid_t window = SpawnProgram(KL395_SIGNALLED_WINDOW_PATH, {}, {});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (window > 0 && !HeldExclusive(sim_.SlavePath()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(HeldExclusive(sim_.SlavePath())) << "acquisition did not start";
    return window;
  }
  void ExpectTerminalFree() {
    EXPECT_FALSE(HeldExclusive(sim_.SlavePath()));
    const CommHandle again = OpenCommDevice(sim_.SlavePath(), 9600);
    EXPECT_TRUE(again) << LastCommError().message;
    CloseCommPort(again);
  }

  SimProcess sim_{{"--address", "1", "--baud", "9600"}};
  TempPortsDir ports_;
};

TEST_F(SignalledWindowTest, AStopSignalClosesTheWindowAsItsCloseBoxDoes) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const pid_t window = StartAcquiring();
    ASSERT_GT(window, 0);
    kill(window, signal);
    EXPECT_EQ(WaitForExit(window, 20s), 0);
    ExpectTerminalFree();
  }
}

// Both signals come before the window's loop can act on the first: the process is stopped
// while they are sent.
TEST_F(SignalledWindowTest, ASecondSignalReleasesThePortAndEndsAtOnce) {
  const pid_t window = StartAcquiring();
  ASSERT_GT(window, 0);
  kill(window, SIGSTOP);
  kill(window, SIGTERM);
  kill(window, SIGHUP);
  kill(window, SIGCONT);
  EXPECT_EQ(WaitForExit(window, 20s), 130);
  ExpectTerminalFree();
}

}  // namespace
