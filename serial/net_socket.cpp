#include "serial/net_socket.h"

CommError ConnectionError(CommErrorKind kind, const std::string& where, const std::string& words,
                          std::chrono::milliseconds timeout) {
  const std::string told = words.empty() ? std::string() : " (" + words + ")";
  switch (kind) {
    case CommErrorKind::kConnectionRefused:
      return {kind, where + " refused the connection"};
    case CommErrorKind::kConnectionTimedOut:
      return {kind,
              "no connection to " + where + " within " + std::to_string(timeout.count()) + " ms"};
    case CommErrorKind::kHostNotFound:
      return {kind, "host of " + where + " not found" + told};
    default:
      return {kind, "network unreachable for " + where + told};
  }
}
