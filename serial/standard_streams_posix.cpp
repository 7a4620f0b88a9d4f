#include "serial/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

bool ReserveStandardStreams() {
  bool outputClosed = false;
  // Taken in order, each closed descriptor is the lowest free one, which open() returns.
  // Without /dev/null there is nothing better to do than go on.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    outputClosed = outputClosed || fd == STDOUT_FILENO;
    ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
  return outputClosed;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}
