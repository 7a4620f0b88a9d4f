// Stopping kl395-cli from outside: Ctrl-C, and on POSIX SIGTERM and SIGHUP as well. The first
// asks the tool to stop once the exchange under way has ended, so that the port is closed
// as usual; a second ends it at once, with its ports released first.
#pragma once

#include <string_view>

// Installs the handlers; call before the first port is opened. A stop also clears
// g_searchActive, which a search tests before each probe.
void CatchStopSignals();

// Whether a stop has been asked for.
bool StopRequested();

// What a second stop still tells before it ends the tool, and the status it ends with: a
// write that has landed, a poll's summary so far. Without one it ends with kInterrupted.
// `toOutput`: the text goes to standard output rather than standard error. Text beyond a
// few kilobytes is cut.
void SetEndingReport(std::string_view text, bool toOutput, int status);

// A trace writes to standard error while a port is held. When whoever reads it goes away,
// those writes must fail rather than end the tool (SIGPIPE) with the port left exclusive.
void IgnoreBrokenPipes();

// Whether a failed write's error means that its reader has gone (a closed pipe): that ends
// a log as --count does, rather than losing it.
bool ReaderGone(int error);
