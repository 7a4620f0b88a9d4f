#include "serial/device_identity_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <optional>

namespace fs = std::filesystem;

namespace {

// Unix 98 pseudo-terminal slaves: majors 136 to 143.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string DeviceNumber(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The USB device a tty node sits on: the nearest folder above its sysfs device with a
// vendor id. None for a tty that is not on USB.
std::optional<fs::path> UsbDeviceFolder(const fs::path& sysRoot, const std::string& ttyName) {
  std::error_code error;
  fs::path folder = fs::canonical(sysRoot / "class" / "tty" / ttyName / "device", error);
  if (error) return std::nullopt;
  for (; folder.has_relative_path(); folder = folder.parent_path()) {
    if (fs::exists(folder / "idVendor", error)) return folder;
  }
  return std::nullopt;
}

std::optional<std::string> UsbIdentity(const fs::path& sysRoot, const std::string& ttyName) {
  const auto usb = UsbDeviceFolder(sysRoot, ttyName);
  if (!usb) return std::nullopt;
  std::string identity =
      "usb " + FirstLine(*usb / "idVendor") + ":" + FirstLine(*usb / "idProduct");
  // Many adapters have no serial number; the port they are plugged into then tells them
  // apart, so the same adapter back in the same socket is still itself.
  const std::string serial = FirstLine(*usb / "serial");
  return identity + (serial.empty() ? " at " + usb->filename().string() : " serial " + serial);
}

}  // namespace

std::string DeviceIdentity(const std::string& path, const fs::path& sysRoot) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return {};
  const unsigned deviceMajor = major(info.st_rdev);
  if (deviceMajor >= kFirstPtyMajor && deviceMajor <= kLastPtyMajor) {
    return "pty " + DeviceNumber(info.st_rdev) + " made " + std::to_string(info.st_ctim.tv_sec) +
           "." + std::to_string(info.st_ctim.tv_nsec);
  }
  std::error_code error;
  const std::string name = fs::canonical(path, error).filename().string();
  if (auto usb = UsbIdentity(sysRoot, name)) return *usb;
  return "device " + DeviceNumber(info.st_rdev);
}
