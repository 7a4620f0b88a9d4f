// Local time stamps for logs: ISO 8601 with milliseconds and the offset from UTC, which a
// log read in another time zone, or across a change to summer time, needs.
#pragma once

#include <chrono>
#include <string>

// "2025-06-01T22:00:00.512+08:00".
std::string LocalIsoTime(std::chrono::system_clock::time_point at);
