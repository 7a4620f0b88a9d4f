// Periodic status acquisition: its counters, kept after a stop so the last values stay shown.
#pragma once

#include <cstdint>

// 64 bits: at one poll every 10 ms they would take thousands of millions of years to wrap.
extern std::uint64_t g_pollSuccessCount;
extern std::uint64_t g_pollFailureCount;
