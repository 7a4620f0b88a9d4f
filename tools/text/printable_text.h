// What the tools' messages repeat of the user's input or of the system's words: printable and
// short, so that no argument can run on for pages or drive the terminal.
#pragma once

#include <string>
#include <string_view>

// At most about 80 characters shown (then "..."), with control characters (C0, DEL, C1) and
// bytes that are not valid UTF-8 written as \xNN. Backslashes stay as they are, so that a
// Windows device name reads as typed.
std::string Printable(std::string_view text);

// The same in single quotes, "..." after the closing quote when cut.
std::string Quoted(std::string_view text);
