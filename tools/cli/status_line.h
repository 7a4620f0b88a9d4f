// One line of standard error on a terminal, kept up to date: each text is written over the one
// before after a carriage return, and what is left of a longer one is blanked first.
#pragma once

#include <cstddef>
#include <string_view>

class StatusLine {
 public:
  // Replaces the line's text.
  void Show(std::string_view text);
  // Blanks the line and leaves the cursor at its start, for whatever is written next. A line
  // that a stop signal has ended (TakeShownStatusLine) stays as it is.
  void Clear();

 private:
  std::size_t width_ = 0;
};

// For a stop signal's handler, async-signal-safe: whether a status line is showing, which the
// handler then ends with a newline, so that it stays as it stood and what follows starts on a
// line of its own. It no longer counts as showing.
bool TakeShownStatusLine();
