// The one observer of every write and read (SetFrameObserver). Inside serial/ only.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "serial/comm_port.h"

// Hands a write or read to the observer, if one is set; one atomic load otherwise.
void TellFrameObserver(CommHandle port, FrameDirection direction,
                       std::span<const std::uint8_t> bytes,
                       std::chrono::steady_clock::time_point at);
