// The desktop icons: kept as kl395-icongen draws them, readable by a real PNG decoder, and
// the same design as the window's kl395.ico at every size.
#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <QString>
#include <filesystem>
#include <string>

#include "tests/res/scratch.h"
#include "tests/support/child_process.h"

namespace {

const int kSizes[] = {16, 32, 48, 64, 128, 256};

std::filesystem::path KeptPng(int size) {
  return std::filesystem::path(KL395_RES_DIR) / "icons" /
         ("kl395_" + std::to_string(size) + ".png");
}

QImage ReadImage(const std::filesystem::path& path, int index = 0) {
  QImageReader reader(QString::fromStdString(path.string()));
  reader.jumpToImage(index);
  return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// The .ico's image of that size (32 first, then 16, as the window's resources hold them).
QImage IcoImage(int size) {
  return ReadImage(std::filesystem::path(KL395_RES_DIR) / "icons" / "kl395.ico",
                   size == 32 ? 0 : 1);
}

// Fully transparent pixels compare equal whatever colour they carry.
QRgb Seen(const QImage& image, int x, int y) {
  const QRgb pixel = image.pixel(x, y);
  return qAlpha(pixel) == 0 ? 0 : pixel;
}

TEST(IconPngs, RegenerateIdentically) {
  ScratchDir dir;
  const CommandResult run = RunProgram(KL395_ICONGEN, {dir.Path().string()});
  ASSERT_EQ(run.status, 0) << run.output;
  for (const int size : kSizes) {
    const std::string kept = ReadBytes(KeptPng(size));
    EXPECT_FALSE(kept.empty()) << size;
    EXPECT_TRUE(kept == ReadBytes(dir.Path() / KeptPng(size).filename()))
        << KeptPng(size) << " differs from what kl395-icongen draws: build target kl395-icons";
  }
}

// At the .ico's own sizes the PNG holds its very pixels, transparency included.
TEST(IconPngs, MatchTheIcoAtItsSizes) {
  for (const int size : {16, 32}) {
    SCOPED_TRACE(size);
    const QImage png = ReadImage(KeptPng(size));
    const QImage ico = IcoImage(size);
    ASSERT_EQ(png.size(), QSize(size, size));
    ASSERT_EQ(ico.size(), QSize(size, size));
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        ASSERT_EQ(Seen(png, x, y), Seen(ico, x, y)) << "at " << x << "," << y;
      }
    }
  }
}

// Every 32-pixel pixel inside an area of one colour (its eight neighbours the same) lies,
// at any other size, over the same colour: the larger icons are the design drawn anew at
// their size, not another picture nor one shifted or shrunk.
TEST(IconPngs, EverySizeHasTheDesign) {
  const QImage reference = IcoImage(32);
  ASSERT_EQ(reference.size(), QSize(32, 32));
  const auto inside = [&](int x, int y) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        if (Seen(reference, x + dx, y + dy) != Seen(reference, x, y)) return false;
      }
    }
    return true;
  };
  for (const int size : kSizes) {
    SCOPED_TRACE(size);
    const QImage png = ReadImage(KeptPng(size));
    ASSERT_EQ(png.size(), QSize(size, size));
    int compared = 0;
    for (int y = 1; y < 31; ++y) {
      for (int x = 1; x < 31; ++x) {
        if (!inside(x, y)) continue;
        ++compared;
        // The pixel under the centre of the 32-pixel one.
        const auto under = [size](int v) { return (2 * v + 1) * size / 64; };
        ASSERT_EQ(Seen(png, under(x), under(y)), Seen(reference, x, y))
            << "32-pixel " << x << "," << y;
      }
    }
    EXPECT_GT(compared, 300);  // over a third of the icon
  }
}

}  // namespace
