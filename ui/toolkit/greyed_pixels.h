// The greyed picture of an icon, as the front ends show a dimmed icon control: each pixel's
// colour becomes its brightness, its opacity stays. Pixels are 32-bit 0xAARRGGBB words, as
// both Qt's ARGB32 images and Windows' 32-bit DIBs hold them.
#pragma once

#include <cstdint>
#include <span>

namespace ui {

void GreyPixels(std::span<std::uint32_t> pixels);

}  // namespace ui
