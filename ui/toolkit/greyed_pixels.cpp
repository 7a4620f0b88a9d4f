#include "ui/toolkit/greyed_pixels.h"

namespace ui {
namespace {

// The brightness the eye sees (ITU-R BT.601 weights), rounded.
std::uint32_t Brightness(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return (299 * red + 587 * green + 114 * blue + 500) / 1000;
}

}  // namespace

void GreyPixels(std::span<std::uint32_t> pixels) {
  for (std::uint32_t& pixel : pixels) {
    const std::uint32_t grey = Brightness((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    pixel = (pixel & 0xFF000000) | grey << 16 | grey << 8 | grey;
  }
}

}  // namespace ui
