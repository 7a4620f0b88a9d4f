// kl395-icongen: draws the application icon and the three lamps and writes them as .ico
// files, and the application icon at the desktop's icon sizes as PNG files, into the given
// folder (res/icons is where they are kept).
// Usage: kl395-icongen <folder>
//
// Shapes are given in a square of 64 units that spans the icon at any size, and a pixel is
// painted when its centre lies inside; all arithmetic is on integers, so every build draws
// the same bits.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/icongen/ico_file.h"
#include "tools/icongen/png_file.h"

namespace {

// A point of the square as (x / per, y / per) units: a pixel's centre is a whole number of
// units only at some sizes, so every size gets a denominator that makes it exact.
struct Point {
  std::int64_t x;
  std::int64_t y;
  std::int64_t per;
};

using Shape = std::function<bool(const Point& point)>;

constexpr int kUnits = 64;
constexpr int kCentre = kUnits / 2;
constexpr std::array<int, 2> kIcoSizes = {32, 16};
constexpr std::array<int, 6> kPngSizes = {16, 32, 48, 64, 128, 256};

void Fill(IconImage& image, const Shape& inside, Colour colour) {
  // The centre of pixel x lies (x + 1/2) * kUnits / size units in, that is
  // (2x + 1) * kUnits / (2 * size).
  const std::int64_t per = 2 * image.size;
  for (int y = 0; y < image.size; ++y) {
    for (int x = 0; x < image.size; ++x) {
      if (!inside({(2 * x + 1) * kUnits, (2 * y + 1) * kUnits, per})) continue;
      image.pixels[static_cast<std::size_t>(y * image.size + x)] = {colour, true};
    }
  }
}

Shape Disc(int cx, int cy, int radius) {
  return [=](const Point& p) {
    const std::int64_t dx = p.x - cx * p.per;
    const std::int64_t dy = p.y - cy * p.per;
    const std::int64_t r = radius * p.per;
    return dx * dx + dy * dy <= r * r;
  };
}

// A bar from `inner` to `outer` away from the centre along (dx, dy), one of the eight
// directions with components -1, 0 or 1. Distances along a diagonal are compared squared
// and scaled by its length squared, so no square root is needed.
Shape Ray(int dx, int dy, int inner, int outer, int halfWidth) {
  const int lengthSquared = dx * dx + dy * dy;
  return [=](const Point& p) {
    const std::int64_t x = p.x - kCentre * p.per;
    const std::int64_t y = p.y - kCentre * p.per;
    const std::int64_t along = x * dx + y * dy;
    const std::int64_t across = x * dy - y * dx;
    const auto scaled = [&](int units) {
      return lengthSquared * (units * p.per) * (units * p.per);
    };
    return along > 0 && along * along >= scaled(inner) && along * along <= scaled(outer) &&
           across * across <= scaled(halfWidth);
  };
}

// A drop: a disc with a point at `tipY` straight above it, joined by the two tangents.
Shape Drop(int cx, int cy, int radius, int tipY) {
  const std::int64_t depth = cy - tipY;
  const std::int64_t tangentSquared = depth * depth - radius * radius;
  return [=](const Point& p) {
    const std::int64_t below = p.y - tipY * p.per;
    const std::int64_t across = p.x - cx * p.per;
    const bool inCone = below >= 0 && below * depth <= tangentSquared * p.per &&
                        across * across * tangentSquared <= below * below * radius * radius;
    return inCone || Disc(cx, cy, radius)(p);
  };
}

struct LampColours {
  Colour rim;
  Colour face;
  Colour shine;
  bool lit;
};

IconImage DrawLamp(int size, const LampColours& colours) {
  IconImage image(size);
  if (colours.lit) {
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        if (dx != 0 || dy != 0) Fill(image, Ray(dx, dy, 23, 30, 2), colours.face);
      }
    }
  }
  Fill(image, Disc(kCentre, kCentre, 19), colours.rim);
  Fill(image, Disc(kCentre, kCentre, 16), colours.face);
  Fill(image, Disc(26, 26, 4), colours.shine);
  return image;
}

// A drop of water on the detector's disc.
IconImage DrawApplicationIcon(int size) {
  IconImage image(size);
  Fill(image, Disc(kCentre, kCentre, 31), Colour::kGray);
  Fill(image, Disc(kCentre, kCentre, 28), Colour::kSilver);
  Fill(image, Drop(kCentre, 38, 15, 6), Colour::kNavy);
  Fill(image, Drop(kCentre, 38, 12, 11), Colour::kBlue);
  Fill(image, Disc(26, 40, 4), Colour::kAqua);
  return image;
}

struct IconFile {
  std::string_view name;
  std::function<IconImage(int size)> draw;
};

const IconFile kIconFiles[] = {
    {"kl395.ico", DrawApplicationIcon},
    {"lamp_red.ico",
     [](int size) {
       return DrawLamp(size, {Colour::kMaroon, Colour::kRed, Colour::kWhite, true});
     }},
    {"lamp_off.ico",
     [](int size) {
       return DrawLamp(size, {Colour::kGray, Colour::kBlack, Colour::kGray, false});
     }},
    {"lamp_green.ico",
     [](int size) {
       return DrawLamp(size, {Colour::kGreen, Colour::kLime, Colour::kWhite, true});
     }},
};

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  std::cerr << path.string() << ": cannot write: " << std::strerror(errno) << '\n';
  return false;
}

// The PNG of the application icon at one size, as the icon theme installs it.
std::string PngName(int size) {
  return "kl395_" + std::to_string(size) + ".png";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kl395-icongen <folder>\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  for (const IconFile& file : kIconFiles) {
    std::vector<IconImage> images;
    for (const int size : kIcoSizes) images.push_back(file.draw(size));
    if (!WriteFile(folder / file.name, EncodeIco(images))) return 1;
  }
  for (const int size : kPngSizes) {
    if (!WriteFile(folder / PngName(size), EncodePng(DrawApplicationIcon(size)))) return 1;
  }
  return 0;
}
