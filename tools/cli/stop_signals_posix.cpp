#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>

#include "search/search_worker.h"
#include "serial/comm_port.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/stop_signals.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> g_stopRequested = 0;
static_assert(std::atomic<int>::is_always_lock_free, "touched from a signal handler");

// The report a second stop writes. Two buffers: the tool fills the one not published, then
// publishes it, so that the handler never reads a half-written text.
struct EndingReport {
  std::array<char, 4096> text{};
  std::size_t length = 0;
  int fd = STDERR_FILENO;
  int status = kInterrupted;
};
std::array<EndingReport, 2> g_reports;
std::atomic<int> g_publishedReport = -1;

void WriteAll(int fd, const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

// Only async-signal-safe calls: a second stop may come in the middle of anything.
void OnStopSignal(int) {
  if (g_stopRequested.exchange(1) == 0) {
    g_searchActive = 0;
    return;
  }
  // A port left exclusive would refuse everyone's opens for as long as its other end stays
  // open (a pseudo-terminal's master, another program on the same adapter).
  ReleaseCommPortsFromSignal();
  constexpr char kMessage[] = "kl395-cli: stopped at once\n";
  WriteAll(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  int status = kInterrupted;
  if (const int published = g_publishedReport.load(); published >= 0) {
    const EndingReport& report = g_reports[static_cast<std::size_t>(published)];
    WriteAll(report.fd, report.text.data(), report.length);
    status = report.status;
  }
  ::_exit(status);
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  // One handler at a time, so that "second" means second.
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

bool StopRequested() {
  return g_stopRequested != 0;
}

void SetEndingReport(std::string_view text, bool toOutput, int status) {
  const int next = g_publishedReport.load() == 0 ? 1 : 0;
  EndingReport& report = g_reports[static_cast<std::size_t>(next)];
  report.length = std::min(text.size(), report.text.size());
  std::copy_n(text.begin(), report.length, report.text.begin());
  report.fd = toOutput ? STDOUT_FILENO : STDERR_FILENO;
  report.status = status;
  g_publishedReport.store(next);
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

bool ReaderGone(int error) {
  return error == EPIPE;
}
