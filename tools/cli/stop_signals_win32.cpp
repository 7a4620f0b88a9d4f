#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "search/search_worker.h"
#include "tools/cli/status_line.h"
#include "tools/cli/stop_signals.h"

namespace {

std::atomic<int> g_stopRequested = 0;

// Windows runs the handler on a thread of its own. A second Ctrl-C takes the default action,
// which ends the process; its handles, the port's among them, end with it.
void OnStopSignal(int signal) {
  g_stopRequested = 1;
  g_searchActive = 0;
  // A search's progress line stays as the stop found it; what follows starts below it.
  if (TakeShownStatusLine()) std::fputs("\n", stderr);
  std::signal(signal, SIG_DFL);
}

}  // namespace

void CatchStopSignals() {
  std::signal(SIGINT, OnStopSignal);
}

bool StopRequested() {
  return g_stopRequested != 0;
}

// The second Ctrl-C takes the default action at once; nothing can be told then.
void SetEndingReport(std::string_view, bool, int) {}

// Windows has no SIGPIPE: a write to a closed pipe only fails.
void IgnoreBrokenPipes() {}

// The C runtime reports a write to a pipe whose reader has gone (ERROR_NO_DATA) as EINVAL.
bool ReaderGone(int error) {
  return error == EPIPE || error == EINVAL;
}
