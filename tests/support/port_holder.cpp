#include "tests/support/port_holder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/child_process.h"

PortHolder::PortHolder(const std::string& path, int accessMode)
    : fd_(::open(path.c_str(), accessMode | O_NOCTTY | O_CLOEXEC)) {
  if (fd_ >= 0) pid_ = SpawnProgram("/bin/sleep", {"60"}, {{accessMode == O_RDONLY ? 0 : 1, fd_}});
}

PortHolder::~PortHolder() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) ::close(fd_);
}
