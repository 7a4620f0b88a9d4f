// kl395-sim: plays a detector, or several on one line, on a pseudo-terminal, for the tests,
// demos and anyone without the hardware. See Usage() for the options and the console commands.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "serial/port_names_posix.h"
#include "serial/standard_streams.h"
#include "tools/sim/com_link.h"
#include "tools/sim/options.h"
#include "tools/sim/pty_line.h"
#include "tools/sim/simulator.h"

namespace {

int g_stopWriteFd = -1;

void OnStopSignal(int) {
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = write(g_stopWriteFd, &byte, 1);
}

// A pipe the signal handler writes to, so that the event loop wakes up and ends cleanly.
int InstallStopSignals() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  g_stopWriteFd = fds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  // A test that stops reading our output must not kill us, and a background job on a
  // terminal gets EIO from its reads instead of being stopped.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGTTIN, SIG_IGN);
  return fds[0];
}

// Pipes and terminals end the simulator when they end; /dev/null (a shell's background job)
// and files only bring commands.
ConsoleInput StandardInput() {
  struct stat info {};
  if (fstat(STDIN_FILENO, &info) != 0) return {};
  const bool ends = isatty(STDIN_FILENO) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
  return {STDIN_FILENO, ends};
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "kl395-sim: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  ReserveStandardStreams();
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParsedArgs parsed = ParseArgs(args);
  if (parsed.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "kl395-sim: %s (try --help)\n", parsed.error.c_str());
    return 2;
  }
  const SimOptions& options = parsed.options;
  DetectorBus bus = MakeBus(options);

  const int stopFd = InstallStopSignals();
  if (stopFd < 0) return Fail("cannot set up signal handling");
  std::string error;
  const auto line = PtyLine::Open(bus.First().BaudRate(), error);
  if (!line) return Fail(error);
  // After the line, so that it is destroyed, and removed, while the terminal is still ours.
  std::unique_ptr<ComLink> link;
  if (options.comNumber) {
    const std::filesystem::path dir =
        options.portsDir.empty() ? PortLinksFolder() : std::filesystem::path(options.portsDir);
    if (dir.empty()) return Fail("no ports folder: HOME is not set; give --ports-dir");
    link = ComLink::Make(dir, *options.comNumber, line->SlavePath(), error);
    if (!link) return Fail(error);
  }
  std::printf("%s\n", line->SlavePath().c_str());
  std::fflush(stdout);

  Simulator(bus, *line, options.pace, options.verbose).Run(StandardInput(), stopFd);
  return 0;
}
