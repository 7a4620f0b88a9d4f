// Placeholder until the POSIX backend lands.
#include "serial/comm_port_backend.h"

std::unique_ptr<CommPort> OpenPlatformPort(const std::string&, int) {
  SetLastCommError(CommErrorKind::kNotFound, "not implemented");
  return nullptr;
}
