#include "serial/device_holders_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <memory>
#include <string_view>
#include <vector>

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

std::optional<pid_t> ProcessId(std::string_view name) {
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end != name.data() + name.size()) return std::nullopt;
  return pid;
}

// The access mode in /proc/PID/fdinfo/FD ("flags:" in octal); unknown counts as reading.
bool OpenForReading(pid_t pid, std::string_view fd) {
  std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + std::string(fd));
  std::string key;
  while (info >> key) {
    if (key != "flags:") continue;
    std::string octal;
    info >> octal;
    int flags = 0;
    std::from_chars(octal.data(), octal.data() + octal.size(), flags, 8);
    return (flags & O_ACCMODE) != O_WRONLY;
  }
  return true;
}

bool ReadsDevice(pid_t pid, dev_t device) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  const Dir dir(::opendir(fds.c_str()));
  if (!dir) return false;  // another user's process, or one that just ended
  while (const dirent* entry = ::readdir(dir.get())) {
    struct stat info {};
    if (entry->d_name[0] == '.' || ::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) != 0) {
      continue;
    }
    if (S_ISCHR(info.st_mode) && info.st_rdev == device && OpenForReading(pid, entry->d_name)) {
      return true;
    }
  }
  return false;
}

std::string CommandName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

std::optional<DeviceHolder> FindOtherReader(dev_t device) {
  const Dir proc(::opendir("/proc"));
  if (!proc) return std::nullopt;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(proc.get())) {
    const auto pid = ProcessId(entry->d_name);
    if (pid && *pid != self && ReadsDevice(*pid, device))
      return DeviceHolder{*pid, CommandName(*pid)};
  }
  return std::nullopt;
}

std::string DeviceGroup(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return {};
  }
  return found->gr_name;
}
