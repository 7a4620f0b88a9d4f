// Placeholder until the POSIX port names land.
#include "serial/comm_port_backend.h"

std::string PlatformPortPath(int) {
  return {};
}
