#include "serial/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

void ReserveStandardStreams() {
  // Taken in order, each closed descriptor is the lowest free one, which open() returns.
  // Without /dev/null there is nothing better to do than go on.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}
