#include <signal.h>
#include <unistd.h>

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
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  ::_exit(kInterrupted);
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

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

bool ReaderGone(int error) {
  return error == EPIPE;
}
