#include "tests/support/temp_ports_dir.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

TempPortsDir::TempPortsDir() {
  std::string pattern = (fs::temp_directory_path() / "kl395-ports-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  root_ = pattern;
  ports_ = root_ / "kl395" / "ports";
  fs::create_directories(ports_);
  fs::create_directories(DeviceFolder());
  for (auto& [name, saved] : saved_) {
    if (const char* value = std::getenv(name)) saved = value;
  }
  ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  // No serial device of the machine: a COM number without a link finds nothing.
  ::setenv("KL395_DEVICE_DIR", DeviceFolder().c_str(), 1);
}

TempPortsDir::~TempPortsDir() {
  for (const auto& [name, saved] : saved_) {
    if (saved) {
      ::setenv(name, saved->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TempPortsDir::Link(int portNumber, const std::string& target) const {
  fs::create_symlink(target, ports_ / ("com" + std::to_string(portNumber)));
}
