#include "tools/icongen/png_file.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kMaxStoredBlock = 0xFFFF;

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  return ~crc;
}

std::uint32_t Adler32(std::span<const std::uint8_t> bytes) {
  constexpr std::uint32_t kModulus = 65521;
  std::uint32_t low = 1;
  std::uint32_t high = 0;
  for (const std::uint8_t byte : bytes) {
    low = (low + byte) % kModulus;
    high = (high + low) % kModulus;
  }
  return high << 16 | low;
}

// A chunk: its length, then type and data under one CRC.
void PutChunk(std::vector<std::uint8_t>& out, std::string_view type,
              std::span<const std::uint8_t> data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeStart = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(std::span(out).subspan(typeStart)));
}

// A zlib stream of the bytes in stored deflate blocks.
std::vector<std::uint8_t> StoredZlib(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
  std::size_t done = 0;
  do {
    const std::size_t length = std::min(kMaxStoredBlock, bytes.size() - done);
    const bool last = done + length == bytes.size();
    out.push_back(last ? 1 : 0);  // BFINAL, and BTYPE 00: stored
    const auto length16 = static_cast<std::uint16_t>(length);
    for (const std::uint16_t word : {length16, static_cast<std::uint16_t>(~length16)}) {
      out.push_back(static_cast<std::uint8_t>(word));
      out.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    const auto block = bytes.subspan(done, length);
    out.insert(out.end(), block.begin(), block.end());
    done += length;
  } while (done < bytes.size());
  PutBig32(out, Adler32(bytes));
  return out;
}

// Each row: filter type 0 (none), then one palette index a pixel.
std::vector<std::uint8_t> Scanlines(const IconImage& image) {
  std::vector<std::uint8_t> rows;
  rows.reserve(static_cast<std::size_t>(image.size * (image.size + 1)));
  for (int y = 0; y < image.size; ++y) {
    rows.push_back(0);
    for (int x = 0; x < image.size; ++x) {
      const auto& pixel = image.At(x, y);
      rows.push_back(pixel.painted ? static_cast<std::uint8_t>(1 + static_cast<int>(pixel.colour))
                                   : 0);
    }
  }
  return rows;
}

std::vector<std::uint8_t> Header(int size) {
  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(size));
  PutBig32(header, static_cast<std::uint32_t>(size));
  // 8 bits an index, colour type 3 (palette), then deflate, the adaptive filters, no interlace.
  header.insert(header.end(), {8, 3, 0, 0, 0});
  return header;
}

std::vector<std::uint8_t> Palette() {
  std::vector<std::uint8_t> palette = {0, 0, 0};  // the transparent entry
  for (int i = 0; i < kColourCount; ++i) {
    const std::uint32_t rgb = Rgb(static_cast<Colour>(i));
    palette.insert(palette.end(),
                   {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                    static_cast<std::uint8_t>(rgb)});
  }
  return palette;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const IconImage& image) {
  std::vector<std::uint8_t> out(kSignature.begin(), kSignature.end());
  PutChunk(out, "IHDR", Header(image.size));
  PutChunk(out, "PLTE", Palette());
  const std::array<std::uint8_t, 1> alphas = {0};  // entry 0 clear; the rest stay opaque
  PutChunk(out, "tRNS", alphas);
  PutChunk(out, "IDAT", StoredZlib(Scanlines(image)));
  PutChunk(out, "IEND", {});
  return out;
}
