// The signal handler may not touch Qt: it writes a byte to a pipe whose other end the event
// loop watches, and the window closes from there, on its own thread.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

#include "serial/stop_signals_posix.h"
#include "ui/qt/stop_signals.h"

namespace ui {
namespace {

constexpr char kLastWords[] = "kl395: stopped at once\n";
constexpr int kStoppedAtOnce = 130;  // as a shell reports a program ended by Ctrl-C

std::atomic<int> g_stopWriteEnd = -1;
static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");

void TellTheEventLoop() {
  const char stop = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(g_stopWriteEnd, &stop, 1);
}

// Made once, and kept to the process's end: a signal may come at any time.
int StopReadEnd() {
  static const int readEnd = [] {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    g_stopWriteEnd = ends[1];
    return ends[0];
  }();
  return readEnd;
}

}  // namespace

CloseOnStopSignals::CloseOnStopSignals(QWidget& window) {
  const int readEnd = StopReadEnd();
  if (readEnd < 0) return;  // the signals keep their default action
  stopped_ = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
  QObject::connect(stopped_.get(), &QSocketNotifier::activated, &window, [readEnd, &window] {
    char bytes[16];
    while (::read(readEnd, bytes, sizeof bytes) > 0) {
    }
    window.close();
  });
  InstallStopSignalHandlers(TellTheEventLoop, kLastWords, kStoppedAtOnce);
}

}  // namespace ui
