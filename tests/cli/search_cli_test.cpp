// kl395-cli search: its arguments, and the real program against the simulated detector,
// including Ctrl-C in the middle of a scan.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tools/cli/cli_options.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(CliSearchArguments, RatesAreNamedAfterSearchEachOnce) {
  CliParse parse = ParseCliArguments({"search"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_EQ(parse.options->command, CliCommand::kSearch);
  EXPECT_EQ(parse.options->searchRates, (std::array<int, 5>{1, 1, 1, 1, 1}));

  parse = ParseCliArguments({"--port", "3", "search", "19200", "1200"});
  ASSERT_TRUE(parse.options) << parse.message;
  EXPECT_EQ(parse.options->portNumber, 3);
  EXPECT_EQ(parse.options->searchRates, (std::array<int, 5>{1, 0, 0, 0, 1}));

  const std::vector<std::vector<std::string>> refused = {
      {"search", "38400"},     {"search", "9600", "9600"},   {"search", "96OO"},
      {"search", "-1200"},     {"--baud", "9600", "search"}, {"--address", "1", "search"},
      {"read-status", "9600"},
  };
  for (const auto& arguments : refused) {
    const CliParse bad = ParseCliArguments(arguments);
    EXPECT_FALSE(bad.options) << ::testing::PrintToString(arguments);
    EXPECT_FALSE(bad.message.empty());
  }
}

// kl395-cli as a child process, its two outputs read apart.
class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& arguments) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    pid_ =
        SpawnProgram(KL395_CLI_PATH, arguments, {{STDOUT_FILENO, out[1]}, {STDERR_FILENO, err[1]}});
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads both outputs until standard error holds `text` or the time is up.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (error.find(text) == std::string::npos) {
      if (Clock::now() > deadline || !ReadSome(deadline)) return false;
    }
    return true;
  }
  void Interrupt() { kill(pid_, SIGINT); }
  // Reads both outputs to their end; the exit status, or -1 if it did not end in time.
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (ReadSome(deadline)) {
    }
    int status = 0;
    if (Clock::now() > deadline || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string output;
  std::string error;

 private:
  // False once both outputs have ended or the deadline has passed.
  bool ReadSome(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if ((out_ < 0 && err_ < 0) || left.count() <= 0) return false;
    pollfd fds[] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) return false;
    Drain(fds[0], out_, output);
    Drain(fds[1], err_, error);
    return true;
  }
  static void Drain(const pollfd& polled, int& fd, std::string& text) {
    if (!polled.revents) return;
    char buffer[512];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
      return;
    }
    close(fd);
    fd = -1;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

class CliSearchTest : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& detector) {
    sim_ = std::make_unique<SimProcess>(detector);
    ASSERT_FALSE(sim_->SlavePath().empty());
    ports_.Link(3, sim_->SlavePath());
    ports_.Link(4, "/dev/kl395-no-such-device");
  }
  TempPortsDir ports_;
  std::unique_ptr<SimProcess> sim_;
};

TEST_F(CliSearchTest, PrintsTheRateAndAddressThatAnsweredAfterTheMisses) {
  Start({"--address", "2", "--baud", "19200"});
  CliProcess cli({"--port", "3", "search", "19200", "2400"});
  EXPECT_EQ(cli.Wait(30s), 0) << cli.error;
  EXPECT_EQ(cli.output, "baud: 19200\naddress: 2\n");
  EXPECT_EQ(cli.error,
            "no reply at 2400 baud from address 0\n"
            "no reply at 19200 baud from address 0\n"
            "no reply at 2400 baud from address 1\n"
            "no reply at 19200 baud from address 1\n"
            "no reply at 2400 baud from address 2\n");
}

TEST_F(CliSearchTest, CtrlCStopsAfterTheProbeUnderWay) {
  Start({"--address", "200"});
  CliProcess cli({"--port", "3", "search", "9600"});
  ASSERT_TRUE(cli.WaitForError("from address 0\n", 10s)) << cli.error;
  const auto pressed = Clock::now();
  cli.Interrupt();
  EXPECT_EQ(cli.Wait(10s), 130) << cli.error;
  EXPECT_LT(Clock::now() - pressed, 3s) << "within about one probe";
  EXPECT_TRUE(cli.output.empty());
  const std::string stopped = "kl395-cli: search stopped\n";
  ASSERT_GE(cli.error.size(), stopped.size());
  EXPECT_EQ(cli.error.substr(cli.error.size() - stopped.size()), stopped) << cli.error;
}

TEST_F(CliSearchTest, MissingPortEndsTheSearchWithItsStatus) {
  Start({});
  CliProcess cli({"--port", "4", "search"});
  EXPECT_EQ(cli.Wait(10s), 3);
  EXPECT_NE(cli.error.find("COM4: not found"), std::string::npos) << cli.error;

  CliProcess device({"--device", "/dev/kl395-no-such-device", "search", "1200"});
  EXPECT_EQ(device.Wait(10s), 3);
  EXPECT_TRUE(device.output.empty());
}

}  // namespace
