// Stopping kl395-cli from outside: Ctrl-C, and on POSIX SIGTERM and SIGHUP as well. The first
// asks the tool to stop once the exchange under way has ended, so that the port is closed
// as usual; a second ends it at once, with its ports released first.
#pragma once

// Installs the handlers; call before the first port is opened. A stop also clears
// g_searchActive, which a search tests before each probe.
void CatchStopSignals();

// Whether a stop has been asked for.
bool StopRequested();

// A trace writes to standard error while a port is held. When whoever reads it goes away,
// those writes must fail rather than end the tool (SIGPIPE) with the port left exclusive.
void IgnoreBrokenPipes();

// Whether a failed write's error means that its reader has gone (a closed pipe): that ends
// a log as --count does, rather than losing it.
bool ReaderGone(int error);
