// Standard input, output and error kept apart from the serial line.
#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. A program started with
// one of them closed would otherwise get it back from the next open, the serial port's, and
// write its own messages onto the line to the detector. Call first thing in main. Returns
// whether standard output was one of them: whatever the program writes there goes nowhere.
bool ReserveStandardStreams();

// Whether standard error is a terminal, where a line can be kept up to date in place.
bool StandardErrorIsTerminal();
