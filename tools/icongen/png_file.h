// The PNG encoding of a drawn icon, for the desktop's icon theme.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/icongen/icon_image.h"

// A PNG file of the image with a palette: index 0 transparent, then the 16 colours. The image
// data goes into stored (uncompressed) deflate blocks, so the bytes depend on nothing but the
// pixels; packages compress them anyway.
std::vector<std::uint8_t> EncodePng(const IconImage& image);
