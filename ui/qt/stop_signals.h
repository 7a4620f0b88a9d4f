// Ctrl-C, SIGTERM and SIGHUP end the program as the close box of its window does: the window
// closes, so that acquisition stops and the port is closed, which takes back the exclusive
// hold our open put on the terminal, and the program ends as usual. A second signal while
// that runs releases every port at once and ends the process.
#pragma once

#include <QSocketNotifier>
#include <QWidget>
#include <memory>

namespace ui {

class CloseOnStopSignals {
 public:
  // While this lives, a first stop signal closes `window`. The handlers stay for the rest of
  // the process, so that a second one still releases the ports at once.
  explicit CloseOnStopSignals(QWidget& window);

 private:
  std::unique_ptr<QSocketNotifier> stopped_;
};

}  // namespace ui
