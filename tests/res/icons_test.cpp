// The kept icons: drawn again by kl395-icongen bit for bit, and in the promised format.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "tests/res/scratch.h"
#include "tests/support/child_process.h"

namespace {

const char* const kIconFiles[] = {"kl395.ico", "lamp_red.ico", "lamp_off.ico", "lamp_green.ico"};

std::uint32_t Le(const std::string& bytes, std::size_t pos, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<std::uint8_t>(bytes.at(pos + static_cast<std::size_t>(i)));
  }
  return value;
}

struct IcoImage {
  int size;
  std::size_t offset;  // of its bitmap header in the file
};

// The images of an .ico file, checked to be 4 bits per pixel with 16 colours.
std::vector<IcoImage> ReadDirectory(const std::string& ico) {
  std::vector<IcoImage> images;
  EXPECT_EQ(Le(ico, 0, 2), 0u);
  EXPECT_EQ(Le(ico, 2, 2), 1u);  // an icon
  const std::uint32_t count = Le(ico, 4, 2);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    const auto size = static_cast<int>(Le(ico, entry, 1));
    const std::uint32_t bytes = Le(ico, entry + 8, 4);
    const std::uint32_t offset = Le(ico, entry + 12, 4);
    EXPECT_EQ(Le(ico, entry + 2, 1), 16u) << "colours";
    EXPECT_EQ(Le(ico, entry + 6, 2), 4u) << "bits per pixel";
    EXPECT_LE(offset + bytes, ico.size());
    EXPECT_EQ(Le(ico, offset, 4), 40u) << "bitmap header size";
    EXPECT_EQ(Le(ico, offset + 4, 4), static_cast<std::uint32_t>(size));
    EXPECT_EQ(Le(ico, offset + 8, 4), static_cast<std::uint32_t>(2 * size));
    EXPECT_EQ(Le(ico, offset + 14, 2), 4u);
    // Header, palette, colour rows and mask rows, each row padded to 4 bytes.
    const int maskRow = (size + 31) / 32 * 4;
    EXPECT_EQ(bytes, static_cast<std::uint32_t>(40 + 64 + size * size / 2 + maskRow * size));
    images.push_back({size, offset});
  }
  return images;
}

// The colour at (x, y) counted from the top as 0xRRGGBB, or nothing where transparent.
std::optional<std::uint32_t> PixelAt(const std::string& ico, const IcoImage& image, int x, int y) {
  const int row = image.size - 1 - y;
  const std::size_t palette = image.offset + 40;
  const std::size_t colours = palette + 64;
  const std::size_t mask = colours + static_cast<std::size_t>(image.size * image.size / 2);
  const int maskRow = (image.size + 31) / 32 * 4;
  const auto maskByte = Le(ico, mask + static_cast<std::size_t>(row * maskRow + x / 8), 1);
  if (maskByte & (0x80u >> (x % 8))) return std::nullopt;
  const auto pair = Le(ico, colours + static_cast<std::size_t>(row * image.size / 2 + x / 2), 1);
  const std::uint32_t index = x % 2 == 0 ? pair >> 4 : pair & 0xF;
  return Le(ico, palette + 4 * index, 3);
}

TEST(Icons, RegenerateIdentically) {
  ScratchDir dir;
  const CommandResult run = RunProgram(KL395_ICONGEN, {dir.Path().string()});
  ASSERT_EQ(run.status, 0) << run.output;
  for (const char* name : kIconFiles) {
    const std::string kept = ReadBytes(std::filesystem::path(KL395_RES_DIR) / "icons" / name);
    EXPECT_FALSE(kept.empty()) << name;
    EXPECT_TRUE(kept == ReadBytes(dir.Path() / name))
        << name << " differs from what kl395-icongen draws: build target kl395-icons";
  }
}

TEST(Icons, EachHoldsA32And16PixelImage) {
  for (const char* name : kIconFiles) {
    SCOPED_TRACE(name);
    const auto images =
        ReadDirectory(ReadBytes(std::filesystem::path(KL395_RES_DIR) / "icons" / name));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].size, 32);
    EXPECT_EQ(images[1].size, 16);
  }
}

// The lit lamps have rays where the dark one has none; corners are transparent.
TEST(Icons, LampColoursAndRays) {
  struct Lamp {
    const char* name;
    std::uint32_t face;
    bool rays;
  };
  for (const Lamp& lamp : {Lamp{"lamp_red.ico", 0xFF0000, true}, Lamp{"lamp_off.ico", 0, false},
                           Lamp{"lamp_green.ico", 0x00FF00, true}}) {
    SCOPED_TRACE(lamp.name);
    const std::string ico = ReadBytes(std::filesystem::path(KL395_RES_DIR) / "icons" / lamp.name);
    for (const IcoImage& image : ReadDirectory(ico)) {
      const int middle = image.size / 2;
      EXPECT_EQ(PixelAt(ico, image, middle, middle), lamp.face);
      EXPECT_EQ(PixelAt(ico, image, 0, 0), std::nullopt);
      const int rayEnd = image.size - 2;  // just inside the right-hand edge
      EXPECT_EQ(PixelAt(ico, image, rayEnd, middle).has_value(), lamp.rays);
      EXPECT_EQ(PixelAt(ico, image, middle, 1).has_value(), lamp.rays);
    }
  }
}

}  // namespace
