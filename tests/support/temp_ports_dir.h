// A temporary XDG_CONFIG_HOME holding kl395/ports, where the tests link COM numbers to
// pseudo-terminals. The previous XDG_CONFIG_HOME is restored on destruction.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

 private:
  std::filesystem::path root_;
  std::filesystem::path ports_;
  std::optional<std::string> savedConfigHome_;
};
