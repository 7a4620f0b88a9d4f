// Icons in 16 colours, as the generator draws them before any file encoding.
#pragma once

#include <cstdint>
#include <vector>

// The standard 16-colour palette, in its usual order.
enum class Colour : std::uint8_t {
  kBlack,
  kMaroon,
  kGreen,
  kOlive,
  kNavy,
  kPurple,
  kTeal,
  kSilver,
  kGray,
  kRed,
  kLime,
  kYellow,
  kBlue,
  kFuchsia,
  kAqua,
  kWhite,
};

constexpr int kColourCount = 16;

// The colour as 0xRRGGBB.
std::uint32_t Rgb(Colour colour);

// A square picture, rows from the top; a pixel that nothing painted is transparent.
struct IconImage {
  explicit IconImage(int side) : size(side), pixels(static_cast<std::size_t>(side * side)) {}

  struct Pixel {
    Colour colour = Colour::kBlack;
    bool painted = false;
  };

  const Pixel& At(int x, int y) const { return pixels[static_cast<std::size_t>(y * size + x)]; }

  int size;
  std::vector<Pixel> pixels;
};
