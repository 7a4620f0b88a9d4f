// Ctrl-C, SIGTERM and SIGHUP for a program that holds serial ports. The first asks it to stop,
// and it closes its ports as usual on its way out; a second, should the first not have ended
// it yet, ends it at once with every port released, so that none is left exclusive (which
// would refuse everyone's opens for as long as the other end of the line stays open).
// POSIX only.
#pragma once

#include <string_view>

// What the first signal does, inside the signal handler: only async-signal-safe work, such as
// setting a lock-free atomic or writing to a pipe. errno is kept for it.
using FirstStopAction = void (*)();

// Installs the handlers for the rest of the process. A second signal releases every open port
// (ReleaseCommPortsFromSignal), writes `lastWords` (a string literal) to standard error and
// ends the process with `exitStatus`.
void InstallStopSignalHandlers(FirstStopAction onFirst, const char* lastWords, int exitStatus);

// What a second signal also tells, after the last words, on descriptor `fd`, and the status
// it then ends with instead: a write that has landed, a summary so far. Text beyond a few
// kilobytes is cut. Call from one thread; each call replaces the one before.
void SetStopReport(std::string_view text, int fd, int exitStatus);
