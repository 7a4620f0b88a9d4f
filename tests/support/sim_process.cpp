#include "tests/support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/child_process.h"

namespace {

// Generous: the simulator may run under sanitizers on a busy two-core machine.
constexpr std::chrono::seconds kReplyTimeout{10};
constexpr std::chrono::seconds kExitTimeout{10};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args, SimTiming timing) {
  // The console is a socket so that writing to a simulator that has ended fails with
  // MSG_NOSIGNAL instead of raising SIGPIPE in the test.
  int console[2];
  int output[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, console) != 0) return;
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(console[0]);
    close(console[1]);
    return;
  }
  std::vector<std::string> allArgs = args;
  if (timing == SimTiming::kInstant) allArgs.push_back("--instant");
  pid_ = SpawnProgram(KL395_SIM_PATH, allArgs,
                      {{STDIN_FILENO, console[1]}, {STDOUT_FILENO, output[1]}});
  close(console[1]);
  close(output[1]);
  input_ = console[0];
  output_ = output[0];
  if (pid_ < 0) return;
  slavePath_ = ReadLine(kReplyTimeout).value_or("");
}

SimProcess::~SimProcess() {
  Stop(SIGTERM);
}

std::optional<std::string> SimProcess::Command(const std::string& line) {
  const std::string text = line + "\n";
  if (send(input_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
    return std::nullopt;
  }
  return ReadLine(kReplyTimeout);
}

void SimProcess::CloseInput() {
  CloseFd(input_);
}

int SimProcess::Stop(int signal) {
  if (pid_ > 0) kill(pid_, signal);
  return Wait(kExitTimeout);
}

int SimProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const int code = WaitForExit(pid_, timeout);
  pid_ = -1;
  CloseFd(input_);
  CloseFd(output_);
  return code;
}

std::optional<std::string> SimProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (output_ < 0 || left.count() <= 0) return std::nullopt;
    pollfd fd = {output_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return std::nullopt;
    char buffer[256];
    const ssize_t count = fd.revents ? read(output_, buffer, sizeof buffer) : 0;
    if (count < 0 && errno != EINTR) return std::nullopt;
    if (count == 0 && fd.revents) return std::nullopt;  // the simulator has ended
    if (count > 0) pending_.append(buffer, static_cast<std::size_t>(count));
  }
}
