#include "serial/standard_streams.h"

// Windows opens serial ports as handles, never in place of a standard stream.
void ReserveStandardStreams() {}
