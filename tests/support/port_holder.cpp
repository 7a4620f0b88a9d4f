#include "tests/support/port_holder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/child_process.h"

// Only the child keeps the port open: the caller's copy would be one more reader, which a
// program looking for the holder (kl395-cli in a test) might find before the child.
PortHolder::PortHolder(const std::string& path, int accessMode) {
  const int fd = ::open(path.c_str(), accessMode | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  pid_ = SpawnProgram("/bin/sleep", {"60"}, {{accessMode == O_RDONLY ? 0 : 1, fd}});
  ::close(fd);
}

PortHolder::~PortHolder() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}
