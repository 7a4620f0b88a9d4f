#include "serial/stop_signals_posix.h"

#include <signal.h>
#include <unistd.h>

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

// Only async-signal-safe calls: a second stop may come in the middle of anything.
void OnStopSignal(int) {
  if (g_stops.fetch_add(1) == 0) {
    const int saved = errno;
    g_onFirst();
    errno = saved;
    return;
  }
  ReleaseCommPortsFromSignal();
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, g_lastWords, g_lastWordsLength);
  ::_exit(g_exitStatus);
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
