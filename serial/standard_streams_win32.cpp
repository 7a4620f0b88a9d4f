#include "serial/standard_streams.h"

// Windows opens serial ports as handles, never in place of a standard stream; a closed
// standard output shows when writing to it fails.
bool ReserveStandardStreams() {
  return false;
}
