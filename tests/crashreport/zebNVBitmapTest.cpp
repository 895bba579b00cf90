// The bitmap object without a screen: scaling, BMP reading and writing, and
// the PNG writer with its quantiser, checked by pngcheck and PIL.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crashreport/zebNVBitmap.h"
#include "crashreport/zebZip.h"
#include "tests/crashreport/PythonCheck.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace zeb;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

void setPixel(INVBitmap& bmp, int x, int yFromTop, Rgb c) {
  // Stored rows run bottom-up.
  const std::size_t row = std::size_t(bmp.PixelHeight() - 1 - yFromTop);
  std::uint8_t* p = bmp.Pixels().data() + (row * std::size_t(bmp.PixelWidth()) + std::size_t(x)) * 4;
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

Rgb pixel(const INVBitmap& bmp, int x, int yFromTop) {
  const std::size_t row = std::size_t(bmp.PixelHeight() - 1 - yFromTop);
  const std::uint8_t* p = bmp.Pixels().data() + (row * std::size_t(bmp.PixelWidth()) + std::size_t(x)) * 4;
  return {p[2], p[1], p[0]};
}

std::shared_ptr<TINVBitmap> filled(int w, int h, Rgb c) {
  auto bmp = TINVBitmap::Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) setPixel(*bmp, x, y, c);
  return bmp;
}

// Something like a photograph: a sky gradient, a few soft discs and grain.
std::shared_ptr<TINVBitmap> photoLike(int w, int h) {
  auto bmp = TINVBitmap::Create(w, h);
  std::mt19937 rng(1024);
  struct Disc {
    int x, y, radius;
    Rgb colour;
  };
  const Disc discs[] = {{300, 500, 180, {200, 60, 40}}, {700, 300, 120, {40, 160, 70}}, {850, 600, 90, {250, 220, 30}}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double r = 60 + 120.0 * y / h, g = 110 + 80.0 * y / h, b = 230 - 100.0 * y / h;
      for (const Disc& d : discs) {
        const double dist = std::hypot(x - d.x, y - d.y) / d.radius;
        if (dist < 1) {
          const double a = 1 - dist * dist;
          r = r * (1 - a) + d.colour.r * a;
          g = g * (1 - a) + d.colour.g * a;
          b = b * (1 - a) + d.colour.b * a;
        }
      }
      const int grain = int(rng() % 17) - 8;
      auto c = [&](double v) { return std::uint8_t(std::clamp(int(v) + grain, 0, 255)); };
      setPixel(*bmp, x, y, {c(r), c(g), c(b)});
    }
  return bmp;
}

Bytes readFile(const fs::path& path) {
  const std::string text = testsupport::readFileText(path);
  return Bytes(text.begin(), text.end());
}

// The chunks of a PNG we wrote, by type.
struct Chunk {
  std::string type;
  Bytes data;
};
std::vector<Chunk> chunks(const Bytes& png) {
  std::vector<Chunk> out;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::size_t length = std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16 | std::size_t(png[at + 2]) << 8 | png[at + 3];
    out.push_back({std::string(png.begin() + long(at) + 4, png.begin() + long(at) + 8),
                   Bytes(png.begin() + long(at) + 8, png.begin() + long(at + 8 + length))});
    at += 12 + length;
  }
  return out;
}

// The image rows a PNG's IDAT holds, through zlib.
Bytes inflatedRows(const Bytes& png, std::size_t expected) {
  for (const Chunk& c : chunks(png))
    if (c.type == "IDAT") {
      Bytes out(expected + 16);
      uLongf size = uLongf(out.size());
      EXPECT_EQ(uncompress(out.data(), &size, c.data.data(), uLong(c.data.size())), Z_OK);
      out.resize(size);
      return out;
    }
  return {};
}

// PIL's reading of an image file: "mode width height" and the RGB bytes.
struct PilImage {
  std::string header;
  Bytes rgb;
};
PilImage decodeWithPil(const testsupport::TempDir& dir, const fs::path& image) {
  int status = 0;
  const std::string out = crashtest::runPython(dir.path(),
                                               "import sys\n"
                                               "from PIL import Image\n"
                                               "im = Image.open(sys.argv[1])\n"
                                               "im.load()\n"
                                               "open(sys.argv[2], 'wb').write(im.convert('RGB').tobytes())\n"
                                               "print(im.format, im.mode, im.size[0], im.size[1])\n",
                                               {image.string(), (dir / "rgb.raw").string()}, &status);
  EXPECT_EQ(status, 0) << out;
  return {out, readFile(dir / "rgb.raw")};
}

}  // namespace

TEST(zebNVBitmap, ResizedKeepsProportions) {
  struct Case {
    int sw, sh, w, h, ew, eh;
  };
  const Case cases[] = {
      {1000, 500, 200, 200, 200, 100}, {500, 1000, 200, 200, 100, 200}, {300, 300, 100, 50, 50, 50},
      {640, 480, 1280, 960, 1280, 960}, {10, 10, 7, 3, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sw) + "x" + std::to_string(c.sh) + " into " + std::to_string(c.w) + "x" + std::to_string(c.h));
    const FittedSize size = FitSize(c.sw, c.sh, c.w, c.h);
    EXPECT_EQ(size.width, c.ew);
    EXPECT_EQ(size.height, c.eh);
  }
  const auto source = filled(1000, 500, {10, 20, 30});
  const NVBitmapPtr small = source->Resized(200, 200);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->PixelWidth(), 200);
  EXPECT_EQ(small->PixelHeight(), 100);
  EXPECT_EQ(pixel(*small, 57, 33), (Rgb{10, 20, 30}));  // the filter keeps a flat colour
  // A side that would be empty gives no picture.
  EXPECT_FALSE(filled(1000, 1, {0, 0, 0})->Resized(10, 10));
  EXPECT_FALSE(source->Resized(0, 10));
}

TEST(zebNVBitmap, MitchellResampleMatchesIntegerFixtures) {
  // Blue holds the pattern, green its inverse, red its transpose; the
  // expected pixels come from the filter computed exactly from its definition.
  struct Fixture {
    int sw, dw;
    std::vector<std::vector<int>> source;
    std::vector<std::vector<Rgb>> expected;  // stored as {blue, green, red}
  };
  const Fixture fixtures[] = {
      {4, 2,
       {{0, 255, 0, 255}, {255, 0, 255, 0}, {10, 20, 30, 40}, {200, 150, 100, 50}},
       {
           {{119, 134, 119}, {121, 132, 92}},
           {{92, 161, 121}, {74, 179, 74}},
       }},
      {2, 5,
       {{0, 255}, {128, 64}},
       {
           {{38, 215, 38}, {91, 162, 60}, {188, 65, 101}, {233, 21, 122}, {233, 21, 126}},
           {{60, 193, 92}, {95, 158, 95}, {157, 96, 101}, {186, 68, 105}, {185, 69, 105}},
           {{101, 152, 187}, {101, 152, 156}, {102, 151, 102}, {101, 152, 73}, {99, 154, 68}},
           {{122, 131, 238}, {105, 148, 189}, {73, 180, 103}, {57, 196, 57}, {54, 199, 48}},
           {{125, 128, 247}, {105, 148, 195}, {68, 185, 103}, {49, 204, 54}, {46, 207, 45}},
       }},
  };
  for (const Fixture& f : fixtures) {
    SCOPED_TRACE(std::to_string(f.sw) + " to " + std::to_string(f.dw));
    Bytes source(std::size_t(f.sw * f.sw) * 4, 0);
    for (int y = 0; y < f.sw; ++y)
      for (int x = 0; x < f.sw; ++x) {
        std::uint8_t* p = source.data() + std::size_t(y * f.sw + x) * 4;
        p[0] = std::uint8_t(f.source[std::size_t(y)][std::size_t(x)]);
        p[1] = std::uint8_t(255 - f.source[std::size_t(y)][std::size_t(x)]);
        p[2] = std::uint8_t(f.source[std::size_t(x)][std::size_t(y)]);
      }
    Bytes destination(std::size_t(f.dw * f.dw) * 4, 0xAB);
    MitchellResample(source, f.sw, f.sw, destination, f.dw, f.dw);
    for (int y = 0; y < f.dw; ++y)
      for (int x = 0; x < f.dw; ++x) {
        const std::uint8_t* p = destination.data() + std::size_t(y * f.dw + x) * 4;
        const Rgb& e = f.expected[std::size_t(y)][std::size_t(x)];
        EXPECT_EQ((Rgb{p[0], p[1], p[2]}), e) << "pixel " << x << "," << y;
        EXPECT_EQ(p[3], 0xAB) << "the fourth byte is left alone";
      }
  }
}

TEST(zebNVBitmap, MitchellHandlesSourcesNarrowerThanTheFilter) {
  // One source pixel feeds every destination pixel, however far the filter
  // reaches past the edges.
  for (int s : {1, 2}) {
    for (const auto& list : MitchellContributors(9, s))
      for (const Contributor& c : list) {
        EXPECT_GE(c.pixel, 0);
        EXPECT_LT(c.pixel, s);
      }
  }
  const auto one = filled(1, 1, {90, 180, 45});
  const NVBitmapPtr big = one->Resized(7, 7);
  ASSERT_TRUE(big);
  EXPECT_EQ(pixel(*big, 3, 6), (Rgb{90, 180, 45}));
}

TEST(zebNVBitmap, OneColourPngIsAPaletteImageOfThatColour) {
  testsupport::TempDir dir;
  const Rgb colour{12, 200, 99};
  auto bmp = filled(5, 3, colour);
  Palette palette{};
  std::vector<WuBox> boxes;
  EXPECT_EQ(OptimalPalette(bmp->Pixels(), palette, 256, &boxes), 1);
  ASSERT_TRUE(bmp->SaveAsPng((dir / "one.png").string(), kPng256Colours));
  const Bytes png = readFile(dir / "one.png");
  const auto parts = chunks(png);
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].type, "IHDR");
  EXPECT_EQ(parts[0].data[8], 8);  // depth
  EXPECT_EQ(parts[0].data[9], 3);  // palette
  ASSERT_EQ(parts[1].type, "PLTE");
  ASSERT_EQ(parts[1].data.size(), 768u);
  EXPECT_EQ((Rgb{parts[1].data[0], parts[1].data[1], parts[1].data[2]}), colour);
  EXPECT_EQ(std::count(parts[1].data.begin() + 3, parts[1].data.end(), 0), 765);
  const Bytes rows = inflatedRows(png, 3 * 6);
  EXPECT_EQ(rows, Bytes(3 * 6, 0));  // filter 0 and index 0 throughout

  if (testsupport::haveTool("pngcheck")) {
    int status = 0;
    const std::string out = testsupport::commandOutput("pngcheck -v " + testsupport::shellQuote((dir / "one.png").string()), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("5 x 3 image, 8-bit palette"), std::string::npos) << out;
    EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  }
  if (crashtest::havePythonModule("PIL")) {
    const PilImage decoded = decodeWithPil(dir, dir / "one.png");
    EXPECT_EQ(decoded.header, "PNG P 5 3\n");
    Bytes expected;
    for (int i = 0; i < 15; ++i) expected.insert(expected.end(), {colour.r, colour.g, colour.b});
    EXPECT_EQ(decoded.rgb, expected);
  }
}

TEST(zebNVBitmap, GreyPngPacksTwoPixelsPerByte) {
  auto bmp = TINVBitmap::Create(3, 2);
  setPixel(*bmp, 0, 0, {255, 255, 255});
  setPixel(*bmp, 1, 0, {255, 0, 0});  // (77 * 255) >> 8 = 76: grey level 73, index 3
  setPixel(*bmp, 2, 0, {0, 0, 0});
  setPixel(*bmp, 0, 1, {0, 0, 255});  // 27: index 1
  setPixel(*bmp, 1, 1, {140, 140, 140});
  setPixel(*bmp, 2, 1, {250, 250, 250});
  const Bytes png = bmp->ToPngBytes(kPng16Greys);
  const auto parts = chunks(png);
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].data[8], 4);
  EXPECT_EQ(parts[0].data[9], 3);
  ASSERT_EQ(parts[1].data.size(), 48u);
  for (std::size_t k = 0; k < 16; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(parts[1].data[3 * k], kGreyLevels[k]);
    EXPECT_EQ(parts[1].data[3 * k + 2], kGreyLevels[k]);
  }
  // Each row: the filter byte and two data bytes, the last four bits zero.
  EXPECT_EQ(inflatedRows(png, 6), (Bytes{0, 0xF3, 0x00, 0, 0x17, 0xF0}));
  // The bitmap itself is grey now.
  EXPECT_EQ(pixel(*bmp, 1, 0), (Rgb{76, 76, 76}));
  EXPECT_EQ(pixel(*bmp, 0, 1), (Rgb{27, 27, 27}));
}

TEST(zebNVBitmap, PhotoColoursComeFromTheirQuantiserBoxes) {
  if (!crashtest::havePythonModule("PIL")) GTEST_SKIP() << "python3-pil is not installed";
  testsupport::TempDir dir;
  auto bmp = photoLike(1024, 768);
  const Bytes original(bmp->Pixels().begin(), bmp->Pixels().end());
  Palette palette{};
  std::vector<WuBox> boxes;
  ASSERT_EQ(OptimalPalette(original, palette, 256, &boxes), 256);
  ASSERT_TRUE(bmp->SaveAsPng((dir / "photo.png").string(), kPng256Colours));
  const PilImage decoded = decodeWithPil(dir, dir / "photo.png");
  ASSERT_EQ(decoded.header, "PNG P 1024 768\n");
  ASSERT_EQ(decoded.rgb.size(), 1024u * 768 * 3);

  auto step = [](int v) { return (v >> 3) + 1; };
  auto inBox = [&](const WuBox& c, int r, int g, int b) {
    return step(r) > c.r0 && step(r) <= c.r1 && step(g) > c.g0 && step(g) <= c.g1 && step(b) > c.b0 && step(b) <= c.b1;
  };
  // Every palette colour is the mean of its own box, so it lies inside it.
  for (std::size_t k = 0; k < boxes.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(inBox(boxes[k], palette[3 * k], palette[3 * k + 1], palette[3 * k + 2]));
  }
  // A pixel gets the palette colour nearest to the first colour met in its
  // 8-step cell, which shares its box; by the triangle rule that colour is no
  // farther from the pixel than the box's own colour plus twice the cell's
  // width over the three channels.
  auto distance = [](int r0, int g0, int b0, int r1, int g1, int b1) {
    return std::abs(r0 - r1) + std::abs(g0 - g1) + std::abs(b0 - b1);
  };
  std::size_t worse = 0;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) {
      const Rgb o = pixel(*bmp, x, y);
      const std::uint8_t* d = decoded.rgb.data() + (std::size_t(y) * 1024 + std::size_t(x)) * 3;
      std::size_t own = boxes.size();
      for (std::size_t k = 0; k < boxes.size() && own == boxes.size(); ++k)
        if (inBox(boxes[k], o.r, o.g, o.b)) own = k;
      ASSERT_LT(own, boxes.size()) << "the boxes cover every colour";
      const int toOwn = distance(o.r, o.g, o.b, palette[3 * own], palette[3 * own + 1], palette[3 * own + 2]);
      if (distance(o.r, o.g, o.b, d[0], d[1], d[2]) > toOwn + 2 * 3 * 7) ++worse;
    }
  EXPECT_EQ(worse, 0u);
}

TEST(zebNVBitmap, SizeLimitedFormatsTakeTheSmallerPng) {
  // Noise compresses badly in colour and far better in 16 greys.
  auto noise = TINVBitmap::Create(400, 300);
  std::mt19937 rng(5);
  for (auto& b : noise->Pixels()) b = std::uint8_t(rng());
  auto copy = [&] { return std::make_shared<TINVBitmap>(400, 300, Bytes(noise->Pixels().begin(), noise->Pixels().end())); };
  const Bytes colour = copy()->ToPngBytes(kPng256Colours);
  const Bytes grey = copy()->ToPngBytes(kPng16Greys);
  ASSERT_GT(colour.size(), 307200u / 3);
  ASSERT_LT(grey.size(), colour.size());
  struct Case {
    int format;
    const Bytes& expected;
  };
  const Case cases[] = {
      {kPngLimit50K, colour.size() > 51200 ? grey : colour},
      {kPngLimit100K, colour.size() > 102400 ? grey : colour},
      {kPngLimit300K, colour.size() > 307200 ? grey : colour},
      {17, colour},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(copy()->ToPngBytes(c.format), c.expected);
  }
  // A small picture stays in colour under every limit.
  const auto flat = filled(40, 30, {1, 2, 3});
  EXPECT_EQ(chunks(flat->ToPngBytes(kPngLimit50K))[0].data[8], 8);
}

TEST(zebNVBitmap, BmpBytesRoundTripAndOpenInPil) {
  auto bmp = TINVBitmap::Create(2, 2);
  setPixel(*bmp, 0, 0, {255, 0, 0});
  setPixel(*bmp, 1, 0, {0, 255, 0});
  setPixel(*bmp, 0, 1, {0, 0, 255});
  setPixel(*bmp, 1, 1, {10, 20, 30});
  const Bytes bytes = bmp->ToBmpBytes();
  ASSERT_EQ(bytes.size(), 70u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(bytes[2], 70);
  EXPECT_EQ(bytes[10], 54);

  const NVBitmapPtr back = LoadBmpBytes(bytes);
  ASSERT_TRUE(back);
  EXPECT_TRUE(std::equal(back->Pixels().begin(), back->Pixels().end(), bmp->Pixels().begin(), bmp->Pixels().end()));

  if (!crashtest::havePythonModule("PIL")) GTEST_SKIP() << "python3-pil is not installed";
  testsupport::TempDir dir;
  ASSERT_TRUE(bmp->SaveAsBmp((dir / "two.bmp").string()));
  const PilImage decoded = decodeWithPil(dir, dir / "two.bmp");
  EXPECT_EQ(decoded.header, "BMP RGB 2 2\n");
  EXPECT_EQ(decoded.rgb, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}));
}

TEST(zebNVBitmap, LoadsTheBmpFormsAnEditorWrites) {
  if (!crashtest::havePythonModule("PIL")) GTEST_SKIP() << "python3-pil is not installed";
  testsupport::TempDir dir;
  // PIL writes 1-, 8- and 24-bit files; the same picture comes back from each.
  int status = 0;
  const std::string out = crashtest::runPython(dir.path(),
                                               "import sys\n"
                                               "from PIL import Image\n"
                                               "im = Image.new('RGB', (7, 5))\n"
                                               "for y in range(5):\n"
                                               "    for x in range(7):\n"
                                               "        im.putpixel((x, y), (255, 255, 255) if (x + y) % 3 else (0, 0, 0))\n"
                                               "d = sys.argv[1]\n"
                                               "im.save(d + '/rgb.bmp')\n"
                                               "im.convert('1').save(d + '/mono.bmp')\n"
                                               "im.convert('L').save(d + '/grey.bmp')\n"
                                               "im.convert('P').save(d + '/indexed.bmp')\n",
                                               {dir.path().string()}, &status);
  ASSERT_EQ(status, 0) << out;
  for (const char* name : {"rgb.bmp", "mono.bmp", "grey.bmp", "indexed.bmp"}) {
    SCOPED_TRACE(name);
    const NVBitmapPtr bmp = LoadBmpFile((dir / name).string());
    ASSERT_TRUE(bmp);
    ASSERT_EQ(bmp->PixelWidth(), 7);
    ASSERT_EQ(bmp->PixelHeight(), 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const std::uint8_t v = (x + y) % 3 ? 255 : 0;
        EXPECT_EQ(pixel(*bmp, x, y), (Rgb{v, v, v})) << x << "," << y;
      }
  }
}

TEST(zebNVBitmap, LoadsSixteenBitFieldsScaledToEightBits) {
  // 2 x 1 pixels at 5-6-5 bits: pure red and a mid green.
  Bytes bmp = {'B', 'M', 74, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0};
  auto le = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bmp.push_back(std::uint8_t(v >> (8 * i)));
  };
  le(40, 4), le(2, 4), le(1, 4), le(1, 2), le(16, 2), le(3, 4), le(4, 4);
  bmp.insert(bmp.end(), 16, 0);
  le(0xF800, 4), le(0x07E0, 4), le(0x001F, 4);
  le(0xF800, 2), le(0x0400, 2);
  const NVBitmapPtr loaded = LoadBmpBytes(bmp);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(pixel(*loaded, 0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(pixel(*loaded, 1, 0), (Rgb{0, 129, 0}));  // 32 of 63
}

TEST(zebNVBitmap, BadBmpHeadersGiveNoPicture) {
  auto base = TINVBitmap::Create(4, 3);
  for (std::size_t i = 0; i < base->Pixels().size(); ++i) base->Pixels()[i] = i % 4 == 3 ? 0 : std::uint8_t(i);
  const Bytes good = base->ToBmpBytes();
  auto with = [&](std::size_t at, std::uint32_t value, int size) {
    Bytes b = good;
    for (int i = 0; i < size; ++i) b[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"not BM", with(0, 'X', 1)},
      {"cut in the header", Bytes(good.begin(), good.begin() + 30)},
      {"cut in the pixels", Bytes(good.begin(), good.end() - 1)},
      {"unknown header size", with(14, 41, 4)},
      {"zero width", with(18, 0, 4)},
      {"negative width", with(18, 0xFFFFFFFF, 4)},
      {"zero height", with(22, 0, 4)},
      {"most negative height", with(22, 0x80000000, 4)},
      {"huge width and height", with(22, 0x7FFFFFFF, 4)},
      {"width times height past the limit", with(18, 0x10000, 4)},
      {"two planes", with(26, 2, 2)},
      {"bit depth 7", with(28, 7, 2)},
      {"run-length compression", with(30, 1, 4)},
      {"pixel offset past the end", with(10, 0xFFFFFFF0, 4)},
      {"pixel offset inside the header", with(10, 20, 4)},
      {"empty", Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(LoadBmpBytes(c.bytes));
  }
  // Top-down: a negative height flips the rows.
  const NVBitmapPtr flipped = LoadBmpBytes(with(22, std::uint32_t(-3), 4));
  ASSERT_TRUE(flipped);
  EXPECT_TRUE(std::equal(flipped->Pixels().begin(), flipped->Pixels().begin() + 16, base->Pixels().begin() + 32));

  Bytes indexed = good;  // 8 bits per pixel with more colours than the depth holds
  indexed[28] = 8;
  indexed[46] = 0;
  indexed[47] = 2;  // 512 colours used
  EXPECT_FALSE(LoadBmpBytes(indexed));
  EXPECT_FALSE(LoadBmpFile("/nonexistent/picture.bmp"));
}

TEST(zebNVBitmap, FailedSavesLeaveNoFile) {
  testsupport::TempDir dir;
  auto bmp = filled(3, 3, {1, 1, 1});
  EXPECT_FALSE(bmp->SaveAsPng((dir / "missing" / "x.png").string(), 0));
  EXPECT_FALSE(bmp->SaveAsBmp((dir / "missing" / "x.bmp").string()));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_FALSE(TINVBitmap::Create(0, 5));
  EXPECT_FALSE(TINVBitmap::Create(70000, 70000));
}
