// The port list's explanation: which device each COM entry opens on this machine, and what
// would stand in the way of opening it.
#pragma once

#include <string>

// One line per COM number from 1 to `portCount` that has a device: "Com3：/dev/ttyUSB0", then
// where the device comes from when the user keeps links (a COM number without one falls
// through to the device list), then its state when it cannot be used: missing, not
// permitted (with the group to join) or in use by another program (its name and pid).
// Worked out afresh each time, without opening any port.
std::string PortListToolTip(int portCount);
