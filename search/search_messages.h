// The two messages the search worker sends the main window, synchronously, with both
// parameters 0 (the window's private message numbers WM_USER + 5 and + 6).
#pragma once

inline constexpr int WM_SEARCH_PROGRESS = 1029;
inline constexpr int WM_SEARCH_FOUND = 1030;
