// The generated icon files: the images the icon holds, the 256-colour
// 32x32 image that the window and the tray show, and the PNG.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <QImage>
#include <QImageReader>

#include "qt_support.h"

namespace quillbeck::testing {
namespace {

struct DirEntry {
  int size;
  int bits;
};

std::string Bytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8;
}

std::vector<DirEntry> Directory(const std::string& ico) {
  std::vector<DirEntry> entries;
  if (ico.size() < 6 || U16(ico, 0) != 0 || U16(ico, 2) != 1) return entries;
  for (unsigned i = 0; i < U16(ico, 4); ++i) {
    const std::size_t at = 6 + 16 * i;
    const int size = static_cast<std::uint8_t>(ico[at]);
    entries.push_back({size == 0 ? 256 : size, static_cast<int>(U16(ico, at + 6))});
  }
  return entries;
}

QImage ImageOfSize(int size) {
  QImageReader reader(QStringLiteral(QUILLBECK_ICON_ICO));
  for (int i = 0; i < reader.imageCount(); ++i) {
    reader.jumpToImage(i);
    const QImage image = reader.read();
    if (image.size() == QSize(size, size)) return image;
  }
  return {};
}

int ColoursOf(const QImage& image) {
  std::set<QRgb> colours;
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x)
      if (qAlpha(argb.pixel(x, y)) != 0) colours.insert(argb.pixel(x, y));
  return static_cast<int>(colours.size());
}

TEST(IconTest, HoldsPalettedSmallImagesAndLargeOnesWithAlpha) {
  const auto entries = Directory(Bytes(QUILLBECK_ICON_ICO));
  ASSERT_EQ(entries.size(), 4u);
  const DirEntry expected[] = {{16, 8}, {32, 8}, {48, 32}, {256, 32}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].size, expected[i].size);
    EXPECT_EQ(entries[i].bits, expected[i].bits);
  }
}

TEST(IconTest, EveryImageLoadsAndShowsTheArtwork) {
  for (int size : {16, 32, 48, 256}) {
    SCOPED_TRACE(size);
    const QImage image = ImageOfSize(size);
    ASSERT_FALSE(image.isNull());
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(argb.pixel(0, 0)), 0) << "corners are transparent";
    // The folder's front fills the middle of the lower half.
    const QRgb front = argb.pixel(size / 2, size * 3 / 4);
    EXPECT_EQ(qAlpha(front), 255);
    EXPECT_GT(qRed(front), 200);
    EXPECT_LT(qBlue(front), 120);
  }
  const int colours = ColoursOf(ImageOfSize(32));
  EXPECT_LE(colours, 256);
  EXPECT_GE(colours, 16) << "shaded, not a flat silhouette";
}

TEST(IconTest, PngIsTheLargeImage) {
  const QImage png(QStringLiteral(QUILLBECK_ICON_PNG));
  ASSERT_EQ(png.size(), QSize(256, 256));
  EXPECT_EQ(png.convertToFormat(QImage::Format_ARGB32), ImageOfSize(256).convertToFormat(QImage::Format_ARGB32));
}

using PictureTest = QtWindowTest;

TEST_F(PictureTest, Picture1ShowsThe256ColourImage) {
  const QPixmap picture = window.Picture1().pixmap();
  EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(32, 32));
  // On a denser screen Qt draws the icon from a larger image at the same
  // size; at 96 dpi it is the 32x32 image itself.
  if (window.devicePixelRatioF() != 1.0) GTEST_SKIP() << "scaled screen";
  const QImage shown = window.Picture1().pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(shown, ImageOfSize(32).convertToFormat(QImage::Format_ARGB32));
}

}  // namespace
}  // namespace quillbeck::testing
