// COM numbers on POSIX systems. A link `comN` in the user's ports folder names the device for
// COM n; without one, COM n is the n-th serial device present, ordered by the function below.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Orders the device names found in /dev as COM1, COM2, ...: USB adapters first (ttyUSB, then
// ttyACM, each in numeric order), then the on-board ttyS ports that `hasHardware` accepts.
// Every other name is dropped.
std::vector<std::string> OrderSerialDevices(
    const std::vector<std::string>& names,
    const std::function<bool(const std::string&)>& hasHardware);

// The folder of the comN links: $XDG_CONFIG_HOME/kl395/ports, or ~/.config/kl395/ports;
// empty when neither variable gives an absolute place.
std::filesystem::path PortLinksFolder();
