// A running kl395-sim for tests that need a detector on a pseudo-terminal. Its standard
// error goes to the test's, so --verbose logs show up in a failing test's output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// How the simulator keeps time: replies at once, for tests that do not time the line, or a
// real line's time, for those that do and for the benchmarks.
enum class SimTiming { kInstant, kLineTime };

class SimProcess {
 public:
  // Starts the simulator with the arguments and waits for the terminal's path.
  explicit SimProcess(const std::vector<std::string>& args = {},
                      SimTiming timing = SimTiming::kInstant);
  // Ends it with SIGTERM if it still runs, killing it if it does not end in time.
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // The terminal's path; empty when the simulator did not start.
  const std::string& SlavePath() const { return slavePath_; }
  pid_t pid() const { return pid_; }

  // Sends one console line and returns the simulator's answer; nothing after a time-out.
  std::optional<std::string> Command(const std::string& line);
  // Ends the console input, as a closed pipe would.
  void CloseInput();
  // Sends the signal and waits for the end. Returns the exit code, or -1 when it did not end
  // in time (it is then killed) or ended by a signal.
  int Stop(int signal);
  // Waits for the simulator to end by itself; the exit code, or -1 as above.
  int Wait(std::chrono::milliseconds timeout);

 private:
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  std::string slavePath_;
};
