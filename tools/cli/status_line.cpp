#include "tools/cli/status_line.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace {

std::atomic<bool> g_shown = false;
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

// Back to the line's start over `width` blanks.
std::string Blanked(std::size_t width) {
  std::string text(width + 2, ' ');
  text.front() = '\r';
  text.back() = '\r';
  return text;
}

void Put(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

void StatusLine::Show(std::string_view text) {
  std::string out = text.size() < width_ ? Blanked(width_) : "\r";
  out += text;
  Put(out);
  width_ = text.size();
  g_shown = true;
}

void StatusLine::Clear() {
  if (g_shown.exchange(false)) Put(Blanked(width_));
  width_ = 0;
}

bool TakeShownStatusLine() {
  return g_shown.exchange(false);
}
