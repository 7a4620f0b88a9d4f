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
  if (const char* saved = std::getenv("XDG_CONFIG_HOME")) savedConfigHome_ = saved;
  ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
}

TempPortsDir::~TempPortsDir() {
  if (savedConfigHome_) {
    ::setenv("XDG_CONFIG_HOME", savedConfigHome_->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TempPortsDir::Link(int portNumber, const std::string& target) const {
  fs::create_symlink(target, ports_ / ("com" + std::to_string(portNumber)));
}
