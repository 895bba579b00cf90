// TPngPicture on Qt: drawing with its blend, conversion to and from QImage,
// the clipboard and the palette.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <filesystem>

#include "png/qt/PngPictureQt.h"
#include "tests/png/PngTestImages.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;
using namespace pngtest;

namespace {

constexpr QRgb kMagenta = 0xFFFF00FF;

TPngPicture& load(TPngPicture& image, const PngFile& file) {
  image.LoadFromBytes(file.bytes());
  return image;
}

// A width × height colour image with alpha: every pixel (s, s, s, a).
PngFile rgbaImage(std::uint32_t width, std::uint32_t height, std::uint8_t s, std::uint8_t a) {
  Bytes raw;
  for (std::uint32_t i = 0; i < width * height; ++i) raw.insert(raw.end(), {s, s, s, a});
  PngFile f;
  f.ihdr(width, height, 8, 6).idat(zlibCompress(unfilteredRows(raw, width * 4))).iend();
  return f;
}

// A 2 × 2 colour image of four different colours.
PngFile fourColours() {
  const Bytes raw = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
  PngFile f;
  f.ihdr(2, 2, 8, 2).idat(zlibCompress(unfilteredRows(raw, 6))).iend();
  return f;
}

QImage canvas(int w, int h, QRgb fill, QImage::Format format = QImage::Format_RGB32) {
  QImage c(w, h, format);
  c.fill(fill);
  return c;
}

int blend(int s, int a, int d) { return (s * a + 255 + (255 - a) * d) >> 8; }

}  // namespace

TEST(PngPictureQt, AlphaIsBlendedByTheFormula) {
  struct Case {
    std::uint8_t a, s, d, expected;
  };
  for (const Case& c : {Case{128, 200, 100, 150}, Case{0, 200, 100, 100}, Case{255, 200, 100, 200},
                        Case{255, 0, 255, 0}, Case{1, 255, 0, 1}}) {
    SCOPED_TRACE(testing::Message() << "a " << int(c.a) << " s " << int(c.s) << " d " << int(c.d));
    TPngPicture image;
    load(image, rgbaImage(1, 1, c.s, c.a));
    // The canvas's own alpha byte is left as it was.
    QImage target = canvas(1, 1, qRgba(c.d, c.d, c.d, 0x40), QImage::Format_ARGB32);
    Draw(image, target, target.rect());
    EXPECT_EQ(target.pixel(0, 0), qRgba(c.expected, c.expected, c.expected, 0x40));
  }
}

TEST(PngPictureQt, AlphaImagesKeepTheirSizeOthersStretch) {
  // Into a rectangle twice its size at (1, 1), an image with alpha stays
  // 2 × 2 at the corner; an opaque one fills the rectangle, each pixel 2 × 2.
  TPngPicture rgba;
  load(rgba, rgbaImage(2, 2, 200, 255));
  QImage target = canvas(6, 6, kMagenta);
  Draw(rgba, target, QRect(1, 1, 4, 4));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      EXPECT_EQ(target.pixel(x, y), inside ? qRgb(200, 200, 200) : kMagenta) << x << "," << y;
    }

  TPngPicture rgb;
  load(rgb, fourColours());
  target = canvas(6, 6, kMagenta);
  Draw(rgb, target, QRect(1, 1, 4, 4));
  const QRgb colours[2][2] = {{qRgb(255, 0, 0), qRgb(0, 255, 0)}, {qRgb(0, 0, 255), qRgb(9, 9, 9)}};
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 4;
      EXPECT_EQ(target.pixel(x, y), inside ? colours[(y - 1) / 2][(x - 1) / 2] : kMagenta) << x << "," << y;
    }

  // Rectangles reaching past the canvas are cut, not refused.
  target = canvas(3, 3, kMagenta);
  Draw(rgb, target, QRect(-2, -2, 4, 4));
  EXPECT_EQ(target.pixel(1, 1), qRgb(9, 9, 9));
  EXPECT_EQ(target.pixel(2, 2), kMagenta);
}

TEST(PngPictureQt, KeyPixelsAreLeftOutUntilTheKeyGoes) {
  // 4 × 1 grey 0, 1, 2, 3 (2 bits) keyed on 2.
  PngFile f;
  f.ihdr(4, 1, 2, 0).chunk("tRNS", {0, 2}).idat(zlibCompress(Bytes{0, 0b00011011})).iend();
  TPngPicture image;
  load(image, f);
  QImage target = canvas(4, 1, kMagenta);
  Draw(image, target, target.rect());
  EXPECT_EQ(target.pixel(1, 0), qRgb(85, 85, 85));
  EXPECT_EQ(target.pixel(2, 0), kMagenta);
  EXPECT_EQ(target.pixel(3, 0), qRgb(255, 255, 255));

  image.Chunks().Extract(image.Chunks().FirstOfClass<TChunktRNS>());
  Draw(image, target, target.rect());
  EXPECT_EQ(target.pixel(2, 0), qRgb(170, 170, 170));
}

TEST(PngPictureQt, DrawingNeverThrows) {
  TPngPicture empty;
  QImage target = canvas(2, 2, kMagenta);
  Draw(empty, target, target.rect());
  EXPECT_EQ(target.pixel(0, 0), kMagenta);
  QPainter painter(&target);
  Draw(empty, painter, target.rect());
  painter.end();

  // A null canvas and an empty rectangle.
  TPngPicture rgb;
  load(rgb, fourColours());
  QImage none;
  Draw(rgb, none, QRect(0, 0, 2, 2));
  Draw(rgb, target, QRect(0, 0, 0, 0));
  EXPECT_EQ(target.pixel(0, 0), kMagenta);
}

TEST(PngPictureQt, OtherCanvasFormatsAreDrawnThroughThirtyTwoBits) {
  TPngPicture image;
  load(image, rgbaImage(1, 1, 200, 128));
  QImage target = canvas(1, 1, qRgb(100, 100, 100), QImage::Format_RGB888);
  Draw(image, target, target.rect());
  EXPECT_EQ(target.format(), QImage::Format_RGB888);
  EXPECT_EQ(target.pixel(0, 0), qRgb(150, 150, 150));
}

TEST(PngPictureQt, PainterDrawingIsWithinOneOfTheBlend) {
  PngFile f;
  Bytes raw;
  for (int i = 0; i < 16; ++i)
    raw.insert(raw.end(), {std::uint8_t(i * 16), 200, std::uint8_t(255 - i * 16), std::uint8_t(i * 17)});
  f.ihdr(4, 4, 8, 6).idat(zlibCompress(unfilteredRows(raw, 16))).iend();
  TPngPicture image;
  load(image, f);
  QImage exact = canvas(8, 8, qRgb(30, 60, 90));
  Draw(image, exact, QRect(2, 2, 8, 8));
  QImage painted = canvas(8, 8, qRgb(30, 60, 90));
  {
    QPainter painter(&painted);
    Draw(image, painter, QRect(2, 2, 8, 8));
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const QRgb a = exact.pixel(x, y), b = painted.pixel(x, y);
      EXPECT_LE(std::abs(qRed(a) - qRed(b)), 1) << x << "," << y;
      EXPECT_LE(std::abs(qGreen(a) - qGreen(b)), 1) << x << "," << y;
      EXPECT_LE(std::abs(qBlue(a) - qBlue(b)), 1) << x << "," << y;
    }

  // An opaque image through a painter stretches as well.
  TPngPicture rgb;
  load(rgb, fourColours());
  QImage stretched = canvas(4, 4, kMagenta);
  {
    QPainter painter(&stretched);
    Draw(rgb, painter, stretched.rect());
  }
  EXPECT_EQ(stretched.pixel(3, 3), qRgb(9, 9, 9));
  EXPECT_EQ(stretched.pixel(0, 0), qRgb(255, 0, 0));
}

TEST(PngPictureQt, EverySuiteImageDrawsAsLibpngBlendsIt) {
  HS_TESTDATA_OR_SKIP(dir, testsupport::testdataFile("png/pngsuite"));
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const fs::path& file = entry.path();
    if (file.extension() != ".png" || file.filename().string()[0] == 'x') continue;
    SCOPED_TRACE(file.filename().string());
    const Bytes bytes = readBytes(file);
    TPngPicture image;
    ASSERT_NO_THROW(image.LoadFromBytes(bytes));
    const Rgba theirs = libpngRgba(bytes);
    ASSERT_FALSE(theirs.pixels.empty());
    QImage target = canvas(int(theirs.width), int(theirs.height), kMagenta);
    Draw(image, target, target.rect());
    // Decoding applies the file's gamma to every colour but grey with alpha,
    // which is drawn from its stored grey.
    const bool gamma = image.HeaderChunk().HeaderFields().ColorType != 4;
    const TGammaTable& g = image.DecodeGamma();
    int mismatches = 0;
    for (std::uint32_t y = 0; y < theirs.height && mismatches < 3; ++y)
      for (std::uint32_t x = 0; x < theirs.width && mismatches < 3; ++x) {
        const std::uint8_t* p = theirs.pixels.data() + (std::size_t(y) * theirs.width + x) * 4;
        auto component = [&](int i, int d) { return blend(gamma ? g[p[i]] : p[i], p[3], d); };
        const QRgb expected = qRgb(component(0, 255), component(1, 0), component(2, 255));
        const QRgb drawn = target.pixel(int(x), int(y));
        if (drawn != expected) {
          ++mismatches;
          ADD_FAILURE() << "pixel (" << x << ", " << y << "): drawn " << std::hex << drawn << ", expected " << expected;
        }
      }
    ++files;
  }
  EXPECT_GT(files, 100);
}

TEST(PngPictureQt, GreyKeyShowsMagentaExactlyWhereLibpngIsTransparent) {
  HS_TESTDATA_OR_SKIP(file, testsupport::testdataFile("png/pngsuite/tbbn0g04.png"));
  const Bytes bytes = readBytes(file);
  TPngPicture image;
  image.LoadFromBytes(bytes);
  const Rgba theirs = libpngRgba(bytes);
  QImage target = canvas(int(theirs.width), int(theirs.height), kMagenta);
  Draw(image, target, target.rect());
  int transparent = 0;
  for (std::uint32_t i = 0; i < theirs.width * theirs.height; ++i) {
    const bool clear = theirs.pixels[4 * i + 3] == 0;
    transparent += clear;
    EXPECT_EQ(target.pixel(int(i % theirs.width), int(i / theirs.width)) == kMagenta, clear) << "pixel " << i;
  }
  EXPECT_GT(transparent, 0);
}

TEST(PngPictureQt, HalfTransparentPaletteEntryBlendsAndBlackStaysOpaque) {
  PngFile f;
  f.ihdr(2, 1, 8, 3).chunk("PLTE", {0, 0, 0, 200, 100, 50}).chunk("tRNS", {255, 128});
  f.idat(zlibCompress(Bytes{0, 0, 1})).iend();
  TPngPicture image;
  load(image, f);
  QImage target = canvas(2, 1, kMagenta);
  Draw(image, target, target.rect());
  EXPECT_EQ(target.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(target.pixel(1, 0), qRgb(blend(200, 128, 255), blend(100, 128, 0), blend(50, 128, 255)));
}

TEST(PngPictureQt, BitmapsBecomeImagesOfTheirDepth) {
  QImage rgb(3, 2, QImage::Format_RGB32);
  rgb.fill(qRgb(1, 2, 3));
  rgb.setPixel(2, 1, qRgb(250, 128, 7));
  TPngPicture image;
  Assign(image, rgb);
  EXPECT_EQ(chunkTypes(image), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(image.HeaderChunk().HeaderFields().ColorType, 2);
  EXPECT_EQ(image.HeaderChunk().HeaderFields().BitDepth, 8);
  EXPECT_EQ(image.GetPixel(2, 1), 0x0780FAu);
  EXPECT_EQ(ToQImage(image).convertToFormat(QImage::Format_RGB32), rgb);

  // An indexed bitmap with a transparent entry keys that entry's colour.
  QImage indexed(4, 1, QImage::Format_Indexed8);
  QList<QRgb> table;
  for (int i = 0; i < 256; ++i) table.append(qRgb(i, 255 - i, 0));
  table[3] = qRgba(3, 252, 0, 0);
  indexed.setColorTable(table);
  for (int x = 0; x < 4; ++x) indexed.setPixel(x, 0, uint(x + 1));
  TPngPicture keyed;
  Assign(keyed, indexed);
  EXPECT_EQ(chunkTypes(keyed), (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
  EXPECT_EQ(keyed.TransparencyKind(), tkColorKey);
  const Bytes saved = keyed.SaveToBytes();
  for (const Chunk& c : chunksOf(saved)) {
    if (c.type == "PLTE") EXPECT_EQ(c.data.size(), 256u * 3);
    if (c.type == "tRNS") EXPECT_EQ(c.data, (Bytes{255, 255, 255, 0}));
  }
  const Rgba back = libpngRgba(saved);
  EXPECT_EQ(back.pixels[4 * 2 + 3], 0);  // the pixel of entry 3
  EXPECT_EQ(back.pixels[4 * 1 + 3], 255);
  QImage keyedBack = ToQImage(keyed);
  EXPECT_EQ(keyedBack.format(), QImage::Format_Indexed8);
  EXPECT_EQ(qAlpha(keyedBack.color(3)), 0);
  EXPECT_EQ(keyedBack.pixelIndex(2, 0), 3);

  // A 1-bit bitmap stays 1-bit.
  QImage mono(9, 1, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  mono.fill(0);
  mono.setPixel(8, 0, 1);
  TPngPicture bits;
  Assign(bits, mono);
  EXPECT_EQ(bits.HeaderChunk().HeaderFields().BitDepth, 1);
  EXPECT_EQ(bits.GetPixel(8, 0), 0xFFFFFFu);
  EXPECT_EQ(bits.GetPixel(7, 0), 0u);
}

TEST(PngPictureQt, ImagesWithAlphaGiveOpaqueBitmaps) {
  TPngPicture image;
  load(image, rgbaImage(2, 1, 77, 0));
  QImage bitmap = ToQImage(image);
  EXPECT_EQ(bitmap.format(), QImage::Format_RGB888);
  EXPECT_EQ(bitmap.pixel(1, 0), qRgb(77, 77, 77));
  EXPECT_TRUE(ToQImage(TPngPicture()).isNull());
}

TEST(PngPictureQt, ClipboardCarriesTheDrawnImage) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  ASSERT_NE(clipboard, nullptr);
  TPngPicture image;
  load(image, rgbaImage(2, 2, 0, 128));
  SaveToClipboard(image, *clipboard);
  TPngPicture pasted;
  ASSERT_TRUE(LoadFromClipboard(pasted, *clipboard));
  EXPECT_EQ(pasted.HeaderChunk().HeaderFields().ColorType, 2);
  EXPECT_EQ(pasted.GetWidth(), 2u);
  // Half-transparent black over the white bitmap.
  EXPECT_EQ(pasted.GetPixel(1, 1), std::uint32_t(blend(0, 128, 255)) * 0x010101u);
  EXPECT_FALSE(pasted.GetTransparent());
  clipboard->clear();
  EXPECT_FALSE(LoadFromClipboard(pasted, *clipboard));
  EXPECT_EQ(pasted.GetWidth(), 2u);
}

TEST(PngPictureQt, PaletteAsQtColours) {
  PngFile f;
  f.ihdr(2, 1, 8, 3).chunk("PLTE", {10, 20, 30, 200, 100, 50}).idat(zlibCompress(Bytes{0, 0, 1})).iend();
  TPngPicture image;
  load(image, f);
  QList<QRgb> colours = PngPalette(image);
  ASSERT_EQ(colours.size(), 256);
  EXPECT_EQ(colours[1], qRgb(200, 100, 50));
  colours[1] = qRgb(1, 2, 3);
  SetPngPalette(image, colours);
  QImage target = canvas(2, 1, kMagenta);
  Draw(image, target, target.rect());
  EXPECT_EQ(target.pixel(1, 0), qRgb(1, 2, 3));
}
