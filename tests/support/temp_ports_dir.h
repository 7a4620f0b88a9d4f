// A temporary XDG_CONFIG_HOME holding kl395/ports, where the tests link COM numbers to
// pseudo-terminals, and an empty device folder (KL395_DEVICE_DIR), so that a COM number
// without a link opens nothing. The previous environment is restored on destruction.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

class TempPortsDir {
 public:
  TempPortsDir();
  ~TempPortsDir();
  TempPortsDir(const TempPortsDir&) = delete;
  TempPortsDir& operator=(const TempPortsDir&) = delete;

  // Makes COM n open `target` (which need not exist).
  void Link(int portNumber, const std::string& target) const;
  // The kl395/ports folder itself, removed with everything in it on destruction.
  const std::filesystem::path& Folder() const { return ports_; }
  // The device folder that stands in for /dev, empty unless a test puts devices in it.
  std::filesystem::path DeviceFolder() const { return root_ / "dev"; }

 private:
  std::filesystem::path root_;
  std::filesystem::path ports_;
  std::pair<const char*, std::optional<std::string>> saved_[2] = {{"XDG_CONFIG_HOME", {}},
                                                                  {"KL395_DEVICE_DIR", {}}};
};
