// Numbers typed into the window are read the way the C library's atoi reads them.
#pragma once

#include <string_view>

// Leading white space, an optional sign, then digits up to the first other character:
// "12ab" is 12, "" and "ab" are 0. Unlike atoi, text beyond the range of int saturates at
// its limit instead of being undefined.
int TextToInt(std::string_view text);
