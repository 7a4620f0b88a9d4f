// What tells one serial device from another that later takes its name. POSIX only.
#pragma once

#include <filesystem>
#include <string>

// The identity of the device at `path` (links followed), or empty when there is none: a
// USB adapter by its vendor, product and serial number (or, without one, the USB port it
// sits in), read from sysfs under `sysRoot`; a pseudo-terminal by its device number and the
// time it was made, since a new terminal reuses a closed one's name; any other terminal by
// its device number.
std::string DeviceIdentity(const std::string& path, const std::filesystem::path& sysRoot = "/sys");
