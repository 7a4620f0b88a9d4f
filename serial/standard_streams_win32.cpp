#include "serial/standard_streams.h"

#include <io.h>

#include <cstdio>

// Windows opens serial ports as handles, never in place of a standard stream; a closed
// standard output shows when writing to it fails.
bool ReserveStandardStreams() {
  return false;
}

bool StandardErrorIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}
