// A change hook's process: the user's command run through the system's shell, with the
// event's facts added to the environment. Polling never waits for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using HookVariables = std::vector<std::pair<std::string, std::string>>;

struct HookProcess {
  long long pid = -1;
  std::uintptr_t handle = 0;  // Windows: the process's handle
};

struct HookEnd {
  bool signalled = false;  // POSIX: ended by a signal, `status` being its number
  int status = 0;
};

// Starts `command` (/bin/sh -c on POSIX, cmd /c on Windows) with `variables` set in this
// process's environment, its standard input empty and its output on our standard error, so
// that standard output stays the log. It gets none of our descriptors beyond those, and the
// signals' default actions. None when it could not be started, `why` then saying why.
std::optional<HookProcess> StartHookProcess(const std::string& command,
                                            const HookVariables& variables, std::string* why);

// How it ended; none while it still runs. Never waits.
std::optional<HookEnd> HookProcessEnded(HookProcess& process);
