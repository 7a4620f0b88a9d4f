#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "search/search_worker.h"
#include "serial/stop_signals_posix.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/status_line.h"
#include "tools/cli/stop_signals.h"

namespace {

std::atomic<int> g_stopRequested = 0;
static_assert(std::atomic<int>::is_always_lock_free, "touched from a signal handler");

void OnFirstStop() {
  g_stopRequested = 1;
  g_searchActive = 0;
  // A search's progress line stays as the stop found it; what follows starts below it.
  if (TakeShownStatusLine()) {
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
  }
}

}  // namespace

void CatchStopSignals() {
  InstallStopSignalHandlers(OnFirstStop, "kl395-cli: stopped at once\n", kInterrupted);
}

bool StopRequested() {
  return g_stopRequested != 0;
}

void SetEndingReport(std::string_view text, bool toOutput, int status) {
  SetStopReport(text, toOutput ? STDOUT_FILENO : STDERR_FILENO, status);
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

bool ReaderGone(int error) {
  return error == EPIPE;
}
