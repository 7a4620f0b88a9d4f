// Who else has a serial device open, and who may open it: what a port that cannot be
// opened, or should not be, is told by. POSIX only; nothing here opens the device.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct DeviceHolder {
  pid_t pid = 0;
  std::string command;  // the process's command name, as ps shows it
};

// Another process that holds the character device `device` open for reading, and so could
// take reply bytes meant for us, found through /proc/*/fd as fuser finds it. Only the
// processes this user may look at are seen. A process that holds it write-only (as the
// simulator's end of a pseudo-terminal does) cannot, and is not counted.
std::optional<DeviceHolder> FindOtherReader(dev_t device);
// The same for any access mode: who keeps an open refused as busy (EBUSY, a terminal made
// exclusive) when no reader is seen.
std::optional<DeviceHolder> FindOtherHolder(dev_t device);

// The name of the group that owns the file at `path`, or empty.
std::string DeviceGroup(const std::string& path);
