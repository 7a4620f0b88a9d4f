// Icons in 16 colours and their .ico encoding.
#pragma once

#include <cstdint>
#include <span>
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

// A square picture, rows from the top; a pixel that nothing painted is transparent.
struct IconImage {
  explicit IconImage(int side) : size(side), pixels(static_cast<std::size_t>(side * side)) {}

  struct Pixel {
    Colour colour = Colour::kBlack;
    bool painted = false;
  };

  int size;
  std::vector<Pixel> pixels;
};

// An .ico file holding the images in order, each at 4 bits per pixel with its AND mask.
std::vector<std::uint8_t> EncodeIco(std::span<const IconImage> images);
