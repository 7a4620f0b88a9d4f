// The simulator's event loop: hears requests on the line, answers them as the detectors on
// it say, and takes commands for the first detector from standard input, all on one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/sim/detector_bus.h"
#include "tools/sim/frame_splitter.h"
#include "tools/sim/line_pace.h"
#include "tools/sim/pty_line.h"

struct ConsoleInput {
  int fd = -1;           // -1: no commands are read
  bool eofEnds = false;  // whether the end of this input ends the simulator
};

class Simulator {
 public:
  Simulator(DetectorBus& bus, PtyLine& line, const LinePace& pace, bool verbose)
      : bus_(bus), line_(line), pace_(pace), verbose_(verbose) {}

  // Runs until `quit`, a byte on `stopFd` (written by a signal handler) or the end of the
  // console input when that ends it.
  void Run(ConsoleInput console, int stopFd);

 private:
  using Clock = LineClock;

  // Until the next frame ends or write falls due; none while nothing does.
  std::optional<Clock::duration> PollTimeout(Clock::time_point now) const;
  void HearLine();
  // Reads and runs console lines; false when the simulator should end.
  bool HearConsole(ConsoleInput& console);
  bool RunConsoleLine(const std::string& line);
  void AnswerFrame(Clock::time_point now);
  void SendDue(Clock::time_point now);
  void Log(const std::string& text) const;

  DetectorBus& bus_;
  PtyLine& line_;
  LinePace pace_;
  bool verbose_;
  IncomingLine incoming_;
  FrameSplitter splitter_;
  std::multimap<Clock::time_point, TimedWrite> outgoing_;  // equal times keep their order
  std::string consoleBuffer_;
  bool skippingLongLine_ = false;
};
