#include "serial/device_holders_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <climits>
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

// The device a descriptor of another process is open on, read from the text of its link:
// following the link itself (stat through /proc/PID/fd) would reach whatever the descriptor
// is open on, a file on a network mount that hangs among them. The text is the kernel's own
// path of the file, free of symbolic links, and device nodes live under /dev, on file systems
// held in memory: only such a text is looked up, and without following anything.
std::optional<dev_t> DeviceOpenOn(int fdFolder, const char* fd) {
  std::array<char, PATH_MAX> target{};
  const ssize_t length = ::readlinkat(fdFolder, fd, target.data(), target.size() - 1);
  if (length <= 0 ||
      !std::string_view(target.data(), static_cast<std::size_t>(length)).starts_with("/dev/")) {
    return std::nullopt;
  }
  struct stat info {};
  if (::lstat(target.data(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
  return info.st_rdev;
}

enum class Access { kReading, kAny };

bool HoldsDevice(pid_t pid, dev_t device, Access access) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  const Dir dir(::opendir(fds.c_str()));
  if (!dir) return false;  // another user's process, or one that just ended
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.' || DeviceOpenOn(::dirfd(dir.get()), entry->d_name) != device) {
      continue;
    }
    if (access == Access::kAny || OpenForReading(pid, entry->d_name)) return true;
  }
  return false;
}

std::string CommandName(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::optional<DeviceHolder> FindHolder(dev_t device, Access access) {
  const Dir proc(::opendir("/proc"));
  if (!proc) return std::nullopt;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(proc.get())) {
    const auto pid = ProcessId(entry->d_name);
    if (pid && *pid != self && HoldsDevice(*pid, device, access)) {
      return DeviceHolder{*pid, CommandName(*pid)};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<DeviceHolder> FindOtherReader(dev_t device) {
  return FindHolder(device, Access::kReading);
}

std::optional<DeviceHolder> FindOtherHolder(dev_t device) {
  return FindHolder(device, Access::kAny);
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
