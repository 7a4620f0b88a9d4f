#include "serial/stop_signals_posix.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "serial/comm_port.h"

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Set before the handlers are, and only read by them.
FirstStopAction g_onFirst = nullptr;
const char* g_lastWords = "";
std::size_t g_lastWordsLength = 0;
int g_exitStatus = 0;

std::atomic<int> g_stops = 0;
static_assert(std::atomic<int>::is_always_lock_free, "touched from a signal handler");

// The report a second signal writes. Two buffers: the program fills the one not published,
// then publishes it, so that the handler never reads a half-written text.
struct StopReport {
  std::array<char, 4096> text{};
  std::size_t length = 0;
  int fd = STDERR_FILENO;
  int exitStatus = 0;
};
std::array<StopReport, 2> g_reports;
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
  if (g_stops.fetch_add(1) == 0) {
    const int saved = errno;
    g_onFirst();
    errno = saved;
    return;
  }
  ReleaseCommPortsFromSignal();
  WriteAll(STDERR_FILENO, g_lastWords, g_lastWordsLength);
  int status = g_exitStatus;
  if (const int published = g_publishedReport.load(); published >= 0) {
    const StopReport& report = g_reports[static_cast<std::size_t>(published)];
    WriteAll(report.fd, report.text.data(), report.length);
    status = report.exitStatus;
  }
  ::_exit(status);
}

}  // namespace

void InstallStopSignalHandlers(FirstStopAction onFirst, const char* lastWords, int exitStatus) {
  g_onFirst = onFirst;
  g_lastWords = lastWords;
  g_lastWordsLength = std::strlen(lastWords);
  g_exitStatus = exitStatus;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  // One handler at a time on a thread, so that "second" means second.
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

void SetStopReport(std::string_view text, int fd, int exitStatus) {
  const int next = g_publishedReport.load() == 0 ? 1 : 0;
  StopReport& report = g_reports[static_cast<std::size_t>(next)];
  report.length = std::min(text.size(), report.text.size());
  std::copy_n(text.begin(), report.length, report.text.begin());
  report.fd = fd;
  report.exitStatus = exitStatus;
  g_publishedReport.store(next);
}
