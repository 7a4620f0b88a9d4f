// What a program that ended leaves on a terminal it held.
#pragma once

#include <string>

// Whether later opens of the terminal would be refused as busy: the exclusive flag our
// backend sets at open outlives a process that ends without clearing it, for as long as
// the other end stays open. (Root's opens pass it, so the flag itself is read.) Write-only,
// so as not to count as another reader of the line, which our open refuses as busy.
bool HeldExclusive(const std::string& path);
