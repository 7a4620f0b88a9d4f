// kl395-cli as a child process, its two outputs read apart, for the tests that need it
// running while they act: on its line, with signals, or with a standard stream changed;
// and what it leaves on the port.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/exclusive_terminal.h"

class CliProcess {
 public:
  // What a standard stream of the child gets besides one of the test's descriptors.
  static constexpr int kPiped = -1;   // a pipe, read into `output` or `error`
  static constexpr int kClosed = -2;  // nothing: the child starts with it closed

  explicit CliProcess(const std::vector<std::string>& arguments, int output = kPiped,
                      int error = kPiped);
  ~CliProcess();  // kills the child if it still runs
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads the outputs until standard error holds `text` or the time is up.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
  // The same for standard output.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // Reads the outputs until standard output holds `count` whole lines or the time is up.
  bool WaitForOutputLines(std::size_t count, std::chrono::milliseconds timeout);
  void Signal(int signal);
  // Reads the outputs to their end; the exit status, or -1 if it did not end in time or was
  // ended by a signal.
  int Wait(std::chrono::milliseconds timeout);

  std::string output;
  std::string error;

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline);
  bool ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};
