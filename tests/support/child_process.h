// Running the project's programs and the peers from tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct CommandResult {
  int status = -1;     // the exit code, or -1 when the command did not exit normally
  std::string output;  // standard output and standard error together
};

// Runs the program to its end. No argument may hold a single quote.
CommandResult RunProgram(const std::string& program, const std::vector<std::string>& args);

// The blank-separated words of `text`, for writing a command line as one string.
std::vector<std::string> Words(const std::string& text);

// Starts the program with each (child descriptor, our descriptor) pair of `streams` in place
// and the child descriptors listed in `closed` closed; returns its process id, or -1 when it
// could not be started.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::pair<int, int>>& streams,
                   const std::vector<int>& closed = {});
// Waits for a started program to end. Returns its exit code, or -1 when it was ended by a
// signal or did not end in time; it is then killed.
int WaitForExit(pid_t pid, std::chrono::milliseconds timeout);
