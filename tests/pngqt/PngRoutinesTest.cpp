// The disabled look of PNG images and PNG images made from Qt's pictures.

#include <gtest/gtest.h>

#include <QIcon>
#include <QPixmap>

#include "png/qt/PngPictureQt.h"
#include "png/qt/PngRoutines.h"
#include "tests/png/PngTestImages.h"

using namespace pngtest;

namespace {

TPngPicture& load(TPngPicture& image, const PngFile& file) {
  image.LoadFromBytes(file.bytes());
  return image;
}

// One row of RGBA pixels.
PngFile rgbaRow(const Bytes& rgba) {
  PngFile f;
  const std::uint32_t width = std::uint32_t(rgba.size() / 4);
  f.ihdr(width, 1, 8, 6).idat(zlibCompress(unfilteredRows(rgba, rgba.size()))).iend();
  return f;
}

PngFile rgbRow(const Bytes& rgb, const Bytes& trns = {}) {
  PngFile f;
  f.ihdr(std::uint32_t(rgb.size() / 3), 1, 8, 2);
  if (!trns.empty()) f.chunk("tRNS", trns);
  f.idat(zlibCompress(unfilteredRows(rgb, rgb.size()))).iend();
  return f;
}

Bytes alphaOf(TPngPicture& image) {
  const std::uint8_t* row = image.AlphaRow(0);
  return row ? Bytes(row, row + image.GetWidth()) : Bytes{};
}

}  // namespace

TEST(PngRoutines, BlendScalesAlphaAndRoundsHalvesToEven) {
  TPngPicture image;
  load(image, rgbaRow({9, 9, 9, 255, 9, 9, 9, 200, 9, 9, 9, 0, 9, 9, 9, 1, 9, 9, 9, 3}));
  BlendPngIcon(image, 127);
  // 3 × 128 / 256 = 1.5 goes to 2; 1 × 128 / 256 = 0.5 goes to 0.
  EXPECT_EQ(alphaOf(image), (Bytes{128, 100, 0, 0, 2}));
  EXPECT_EQ(image.GetPixel(0, 0), 0x090909u);
}

TEST(PngRoutines, BlendGivesKeyedColourImagesAlphaWithTheKeyTransparent) {
  TPngPicture image;
  load(image, rgbRow({1, 2, 3, 4, 5, 6, 1, 2, 3}, {0, 4, 0, 5, 0, 6}));
  BlendPngIcon(image, 127);
  EXPECT_EQ(image.HeaderChunk().HeaderFields().ColorType, 6);
  EXPECT_EQ(alphaOf(image), (Bytes{128, 0, 128}));
  EXPECT_EQ(image.GetPixel(1, 0), 0x060504u);
}

TEST(PngRoutines, BlendTurnsGreyAndPaletteImagesIntoColourWithAlpha) {
  struct Case {
    const char* name;
    PngFile file;
    Bytes alpha;
    std::uint32_t colour1;
  };
  PngFile palette, keyedPalette, grey;
  palette.ihdr(3, 1, 8, 3).chunk("PLTE", {10, 20, 30, 200, 100, 50}).idat(zlibCompress(Bytes{0, 0, 1, 0})).iend();
  keyedPalette.ihdr(3, 1, 8, 3).chunk("PLTE", {10, 20, 30, 200, 100, 50}).chunk("tRNS", {255, 0});
  keyedPalette.idat(zlibCompress(Bytes{0, 0, 1, 0})).iend();
  grey.ihdr(3, 1, 8, 0).idat(zlibCompress(Bytes{0, 0, 128, 255})).iend();
  const Case cases[] = {{"palette", palette, {127, 127, 127}, 0x3264C8},
                        {"keyed palette", keyedPalette, {127, 0, 127}, 0x3264C8},
                        {"grey", grey, {127, 127, 127}, 0x808080}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPngPicture image;
    load(image, c.file);
    BlendPngIcon(image, 127);
    EXPECT_EQ(image.HeaderChunk().HeaderFields().ColorType, 6);
    EXPECT_EQ(alphaOf(image), c.alpha);
    EXPECT_EQ(image.GetPixel(1, 0), c.colour1);
    // It is a whole image again: it saves and reads back.
    TPngPicture back;
    back.LoadFromBytes(image.SaveToBytes());
    EXPECT_EQ(back.GetPixel(1, 0), c.colour1);
  }
}

TEST(PngRoutines, GreyMovesColoursToTheirGrey) {
  TPngPicture image;
  load(image, rgbRow({0, 255, 0, 255, 255, 255, 0, 0, 0, 255, 0, 0}));
  GreyPngIcon(image, 255);
  EXPECT_EQ(image.GetPixel(0, 0), 0x969696u);  // (150, 150, 150)
  EXPECT_EQ(image.GetPixel(1, 0), 0xFFFFFFu);
  EXPECT_EQ(image.GetPixel(2, 0), 0u);
  EXPECT_EQ(image.GetPixel(3, 0), 0x4C4C4Cu);  // 76.5 goes to the even 76

  // Amount 0 keeps each colour but for the rounding of c × 255 / 256.
  TPngPicture light;
  load(light, rgbRow({0, 255, 0}));
  GreyPngIcon(light, 0);
  EXPECT_EQ(light.GetPixel(0, 0), std::uint32_t(254 + 1) << 8 | 1 | 1u << 16);

  // Palettes are greyed through their table; grey images are left alone.
  PngFile palette;
  palette.ihdr(1, 1, 8, 3).chunk("PLTE", {0, 255, 0}).idat(zlibCompress(Bytes{0, 0})).iend();
  TPngPicture indexed;
  load(indexed, palette);
  GreyPngIcon(indexed, 255);
  EXPECT_EQ(indexed.GetPixel(0, 0), 0x969696u);

  PngFile greyFile;
  greyFile.ihdr(2, 1, 8, 4).idat(zlibCompress(Bytes{0, 10, 20, 30, 40})).iend();
  TPngPicture grey;
  load(grey, greyFile);
  const Bytes before = grey.SaveToBytes();
  GreyPngIcon(grey, 255);
  EXPECT_EQ(grey.SaveToBytes(), before);
}

TEST(PngRoutines, DisabledDrawingBlendsACopy) {
  TPngPicture image;
  load(image, rgbaRow({200, 200, 200, 255, 0, 255, 0, 255}));
  QImage canvas(2, 1, QImage::Format_RGB32);
  canvas.fill(qRgb(100, 100, 100));
  DrawPngIcon(image, canvas, canvas.rect(), pngBlendOnDisabled);
  EXPECT_EQ(canvas.pixel(0, 0), qRgb(150, 150, 150));  // alpha 128 over 100
  EXPECT_EQ(alphaOf(image), (Bytes{255, 255}));         // the image itself is unchanged

  canvas.fill(qRgb(100, 100, 100));
  DrawPngIcon(image, canvas, canvas.rect(), pngGrayscaleOnDisabled);
  EXPECT_EQ(canvas.pixel(1, 0), qRgb(150, 150, 150));  // green made grey, opaque

  canvas.fill(qRgb(100, 100, 100));
  DrawPngIcon(image, canvas, canvas.rect(), {});
  EXPECT_EQ(canvas.pixel(1, 0), qRgb(0, 255, 0));
}

TEST(PngRoutines, MaskColourMakesThoseBitmapPixelsTransparent) {
  QImage bitmap(3, 3, QImage::Format_RGB32);
  bitmap.fill(qRgb(10, 200, 30));
  for (auto [x, y] : {std::pair{0, 0}, {2, 0}, {0, 2}, {2, 2}}) bitmap.setPixel(x, y, qRgb(255, 0, 255));
  auto image = PngFromMaskColor(bitmap, 0x00FF00FF);
  ASSERT_EQ(image->HeaderChunk().HeaderFields().ColorType, 6);
  for (std::uint32_t y = 0; y < 3; ++y)
    for (std::uint32_t x = 0; x < 3; ++x) {
      const bool corner = x != 1 && y != 1;
      EXPECT_EQ(image->AlphaRow(y)[x], corner ? 0 : 255) << x << "," << y;
    }
  EXPECT_EQ(image->GetPixel(1, 1), 0x1EC80Au);
}

TEST(PngRoutines, MaskBitmapGivesTheAlpha) {
  QImage bitmap(3, 1, QImage::Format_RGB32);
  bitmap.fill(qRgb(1, 2, 3));
  QImage mask(2, 1, QImage::Format_RGB32);  // narrower than the bitmap
  mask.setPixel(0, 0, qRgb(255, 255, 255));
  mask.setPixel(1, 0, qRgb(0, 0, 0));
  EXPECT_EQ(alphaOf(*PngFromBitmapAndMask(bitmap, &mask, false)), (Bytes{255, 0, 255}));
  EXPECT_EQ(alphaOf(*PngFromBitmapAndMask(bitmap, &mask, true)), (Bytes{0, 255, 255}));
  EXPECT_EQ(alphaOf(*PngFromBitmapAndMask(bitmap, nullptr, false)), (Bytes{255, 255, 255}));
}

TEST(PngRoutines, GraphicsKeepTheirAlpha) {
  QImage argb(2, 1, QImage::Format_ARGB32);
  argb.setPixel(0, 0, qRgba(10, 20, 30, 40));
  argb.setPixel(1, 0, qRgba(50, 60, 70, 255));
  auto fromImage = PngFromGraphic(argb);
  EXPECT_EQ(alphaOf(*fromImage), (Bytes{40, 255}));
  EXPECT_EQ(fromImage->GetPixel(0, 0), 0x1E140Au);  // the colour itself, not premultiplied

  auto fromIcon = PngFromGraphic(QIcon(QPixmap::fromImage(argb)), QSize(2, 1));
  EXPECT_EQ(alphaOf(*fromIcon), (Bytes{40, 255}));

  QImage opaque(2, 1, QImage::Format_RGB32);
  opaque.fill(qRgb(5, 6, 7));
  auto fromBitmap = PngFromGraphic(opaque);
  EXPECT_EQ(fromBitmap->HeaderChunk().HeaderFields().ColorType, 2);
  EXPECT_FALSE(fromBitmap->GetTransparent());

  auto copy = PngFromGraphic(*fromImage);
  EXPECT_EQ(copy->SaveToBytes(), fromImage->SaveToBytes());
}
