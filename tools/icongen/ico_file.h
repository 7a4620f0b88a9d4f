// The .ico encoding of the drawn icons.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/icongen/icon_image.h"

// An .ico file holding the images in order, each at 4 bits per pixel with its AND mask.
std::vector<std::uint8_t> EncodeIco(std::span<const IconImage> images);
