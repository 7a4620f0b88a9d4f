#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// The child's standard streams as the constructor sets them up. The write ends of the pipes
// are closed with it, once the child has its copies, so that the reads see the child's end.
struct ChildStreams {
  std::vector<std::pair<int, int>> given;
  std::vector<int> closed;
  std::vector<int> writeEnds;

  ChildStreams() = default;
  ChildStreams(const ChildStreams&) = delete;
  ChildStreams& operator=(const ChildStreams&) = delete;
  ~ChildStreams() {
    for (const int end : writeEnds) close(end);
  }

  // Sets up one stream as `how` says; the reading end of its pipe, or -1.
  int Add(int child, int how) {
    if (how == CliProcess::kClosed) {
      closed.push_back(child);
    } else if (how != CliProcess::kPiped) {
      given.emplace_back(child, how);
    } else if (int ends[2]; pipe2(ends, O_CLOEXEC) == 0) {
      given.emplace_back(child, ends[1]);
      writeEnds.push_back(ends[1]);
      return ends[0];
    }
    return -1;
  }
};

void Drain(const pollfd& polled, int& fd, std::string& text) {
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

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& arguments, int output, int error) {
  ChildStreams streams;
  out_ = streams.Add(STDOUT_FILENO, output);
  err_ = streams.Add(STDERR_FILENO, error);
  pid_ = SpawnProgram(KL395_CLI_PATH, arguments, streams.given, streams.closed);
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

bool CliProcess::ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline || !ReadSome(deadline)) return false;
  }
  return true;
}

bool CliProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  return ReadUntil([&] { return error.find(text) != std::string::npos; }, timeout);
}

bool CliProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  return ReadUntil([&] { return output.find(text) != std::string::npos; }, timeout);
}

bool CliProcess::WaitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) {
  return ReadUntil(
      [&] {
        return static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n')) >= count;
      },
      timeout);
}

void CliProcess::Signal(int signal) {
  kill(pid_, signal);
}

int CliProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (ReadSome(deadline)) {
  }
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (ended != pid_) return -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// False once both outputs have ended or the deadline has passed.
bool CliProcess::ReadSome(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if ((out_ < 0 && err_ < 0) || left.count() <= 0) return false;
  pollfd fds[] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  if (poll(fds, 2, static_cast<int>(left.count())) < 0) return false;
  Drain(fds[0], out_, output);
  Drain(fds[1], err_, error);
  return true;
}
