// Periodic status acquisition: its counters, kept after a stop so the last values stay shown.
#pragma once

extern int g_pollSuccessCount;
extern int g_pollFailureCount;
