// Another program holding a port on a descriptor of its own, without any lock, as a terminal
// program or a modem manager would: `sleep` with the port as its standard input (O_RDONLY:
// it reads the line) or its standard output (O_WRONLY: it only writes).
#pragma once

#include <sys/types.h>

#include <string>

class PortHolder {
 public:
  PortHolder(const std::string& path, int accessMode);
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;

  pid_t pid() const { return pid_; }  // -1 when it could not be started

 private:
  pid_t pid_ = -1;
};
