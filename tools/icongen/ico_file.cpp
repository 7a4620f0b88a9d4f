#include "tools/icongen/ico_file.h"

namespace {

constexpr std::size_t kDirectoryHeader = 6;
constexpr std::size_t kDirectoryEntry = 16;
constexpr std::uint32_t kInfoHeader = 40;
constexpr std::uint16_t kBitsPerPixel = 4;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Bitmap rows are padded to whole 32-bit words.
std::size_t RowBytes(int size, int bitsPerPixel) {
  return static_cast<std::size_t>((size * bitsPerPixel + 31) / 32 * 4);
}

// The colour bits (transparent pixels black, so the mask alone decides them), then the AND
// mask with 1 for transparent; both bottom row first.
std::vector<std::uint8_t> EncodeBitmaps(const IconImage& image) {
  const int size = image.size;
  std::vector<std::uint8_t> colours(RowBytes(size, kBitsPerPixel) * size);
  std::vector<std::uint8_t> mask(RowBytes(size, 1) * size);
  for (int y = 0; y < size; ++y) {
    const std::size_t row = static_cast<std::size_t>(size - 1 - y);
    for (int x = 0; x < size; ++x) {
      const auto& pixel = image.At(x, y);
      const auto index = pixel.painted ? static_cast<unsigned>(pixel.colour) : 0u;
      colours[row * RowBytes(size, kBitsPerPixel) + x / 2] |=
          static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
      if (!pixel.painted) {
        mask[row * RowBytes(size, 1) + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  colours.insert(colours.end(), mask.begin(), mask.end());
  return colours;
}

std::vector<std::uint8_t> EncodeImage(const IconImage& image) {
  const auto bitmaps = EncodeBitmaps(image);
  const auto size = static_cast<std::uint32_t>(image.size);
  std::vector<std::uint8_t> out;
  Put32(out, kInfoHeader);
  Put32(out, size);
  Put32(out, size * 2);  // colour bits and mask stacked
  Put16(out, 1);         // planes
  Put16(out, kBitsPerPixel);
  Put32(out, 0);  // uncompressed
  Put32(out, static_cast<std::uint32_t>(bitmaps.size()));
  for (int i = 0; i < 4; ++i) Put32(out, 0);  // resolution and colour counts: the defaults
  for (int i = 0; i < kColourCount; ++i) {
    Put32(out, Rgb(static_cast<Colour>(i)));  // stored blue, green, red, 0
  }
  out.insert(out.end(), bitmaps.begin(), bitmaps.end());
  return out;
}

}  // namespace

std::vector<std::uint8_t> EncodeIco(std::span<const IconImage> images) {
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);  // an icon, not a cursor
  Put16(out, static_cast<std::uint32_t>(images.size()));
  std::vector<std::uint8_t> data;
  auto offset = static_cast<std::uint32_t>(kDirectoryHeader + kDirectoryEntry * images.size());
  for (const IconImage& image : images) {
    const auto encoded = EncodeImage(image);
    out.push_back(static_cast<std::uint8_t>(image.size));
    out.push_back(static_cast<std::uint8_t>(image.size));
    out.push_back(16);  // colours
    out.push_back(0);
    Put16(out, 1);
    Put16(out, kBitsPerPixel);
    Put32(out, static_cast<std::uint32_t>(encoded.size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(encoded.size());
    data.insert(data.end(), encoded.begin(), encoded.end());
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}
