#include "serial/port_names_posix.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <utility>

#include "serial/comm_port_backend.h"
#include "serial/device_identity_posix.h"
#include "serial/line_url.h"

namespace fs = std::filesystem;

namespace {

struct DeviceFamily {
  std::string_view prefix;
  bool onBoard;  // a UART node the kernel creates whether or not hardware sits behind it
};

constexpr DeviceFamily kFamilies[] = {{"ttyUSB", false}, {"ttyACM", false}, {"ttyS", true}};

// The number after `prefix`, or nothing unless the rest of the name is all digits.
std::optional<unsigned> DeviceNumber(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return number;
}

// The device the link `comN` names. A dangling link still counts: the open then fails naming
// the missing device, rather than COM n silently becoming some other device.
std::optional<PortLink> LinkOf(int portNumber) {
  const fs::path folder = PortLinksFolder();
  if (folder.empty()) return std::nullopt;
  const fs::path link = folder / ("com" + std::to_string(portNumber));
  struct stat info {};
  if (::lstat(link.c_str(), &info) != 0) return std::nullopt;
  // A link made anew gets another inode, and its change time moves on.
  const std::string identity = std::to_string(info.st_ino) + "@" +
                               std::to_string(info.st_ctim.tv_sec) + "." +
                               std::to_string(info.st_ctim.tv_nsec);
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  // A network line's URL is no path: it is taken as it stands.
  if (!error && IsLineUrl(target.string())) return PortLink{target.string(), identity};
  if (const fs::path device = fs::canonical(link, error); !error) {
    return PortLink{device.string(), identity};
  }
  const bool unread = target.empty();
  return PortLink{unread ? link.string() : (folder / target).lexically_normal().string(), identity};
}

// Where the serial devices are looked for: /dev, unless KL395_DEVICE_DIR names another folder.
// The tests point it at an empty one, so that no COM number of theirs can ever fall through
// to a real port of the machine running them.
fs::path DeviceFolder() {
  const char* folder = std::getenv("KL395_DEVICE_DIR");
  return folder && folder[0] != '\0' ? fs::path(folder) : fs::path("/dev");
}

std::vector<std::string> DeviceNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Every ttyS node exists whether or not a UART answers; the kernel reports port type 0
// (unknown) for the phantoms. Read from /sys so that no device is opened.
bool OnBoardPortHasHardware(const std::string& name) {
  std::ifstream typeFile("/sys/class/tty/" + name + "/type");
  int type = 0;
  return static_cast<bool>(typeFile >> type) && type != 0;
}

}  // namespace

// The XDG rules ignore a relative XDG_CONFIG_HOME.
fs::path PortLinksFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
    return fs::path(config) / "kl395" / "ports";
  }
  if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
    return fs::path(home) / ".config" / "kl395" / "ports";
  }
  return {};
}

std::vector<std::string> OrderSerialDevices(
    const std::vector<std::string>& names,
    const std::function<bool(const std::string&)>& hasHardware) {
  std::vector<std::string> ordered;
  for (const DeviceFamily& family : kFamilies) {
    std::vector<std::pair<unsigned, std::string>> members;
    for (const std::string& name : names) {
      const auto number = DeviceNumber(name, family.prefix);
      if (number && (!family.onBoard || hasHardware(name))) members.emplace_back(*number, name);
    }
    std::sort(members.begin(), members.end());
    for (auto& member : members) ordered.push_back(std::move(member.second));
  }
  return ordered;
}

std::optional<PortLink> PlatformPortLink(int portNumber) {
  return LinkOf(portNumber);
}

std::string PlatformDeviceIdentity(const std::string& path) {
  return DeviceIdentity(path);
}

std::string PlatformPortPath(int portNumber) {
  if (portNumber < 1) return {};
  if (auto link = LinkOf(portNumber)) return link->target;
  const fs::path folder = DeviceFolder();
  const auto devices = OrderSerialDevices(DeviceNames(folder), OnBoardPortHasHardware);
  const auto index = static_cast<std::size_t>(portNumber - 1);
  return index < devices.size() ? (folder / devices[index]).string() : std::string();
}
