#pragma once

// The crash reporter's bitmap: the screenshot and the pictures of the
// assistant's image items. A 32-bit picture stored as a bottom-up DIB (rows
// from the bottom, 4 bytes per pixel: blue, green, red, unused), so it writes
// as a BMP file unchanged. It scales itself with a Mitchell filter and writes
// itself as BMP or as a palette PNG (Wu's colour quantiser, or 16 greys).
//
// No Qt here: capturing the screen and painting live in crashreport/qt.
// Bitmaps are shared: the last reference frees one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

class INVBitmap;
using NVBitmapPtr = std::shared_ptr<INVBitmap>;

class INVBitmap {
public:
  virtual ~INVBitmap() = default;
  virtual std::int32_t PixelWidth() const = 0;
  virtual std::int32_t PixelHeight() const = 0;
  // The 54-byte headers and the pixels as they are stored.
  virtual std::vector<std::uint8_t> ToBmpBytes() const = 0;
  // The picture as PNG in one of the formats below; empty on failure. Every
  // grey PNG leaves this bitmap grey.
  virtual std::vector<std::uint8_t> ToPngBytes(int format) = 0;
  // A new file with the bytes; false (and no file) when they are empty or
  // cannot be written whole.
  virtual bool SaveAsBmp(const std::string& path) const = 0;
  virtual bool SaveAsPng(const std::string& path, int format) = 0;
  // A copy scaled to fit width x height with the proportions kept; none when
  // a side would be empty.
  virtual NVBitmapPtr Resized(std::int32_t width, std::int32_t height) const = 0;
  virtual std::span<std::uint8_t> Pixels() = 0;
  virtual std::span<const std::uint8_t> Pixels() const = 0;
};

// PNG formats: 256 colours; 16 greys; 256 colours unless that PNG is larger
// than 50, 100, 200 or 300 KB and the grey one is smaller. Other numbers act
// as kPng256Colours.
enum : int {
  kPng256Colours = 0,
  kPng16Greys = 1,
  kPngLimit50K = 2,
  kPngLimit100K = 3,
  kPngLimit200K = 4,
  kPngLimit300K = 5,
};

// The largest picture a bitmap holds (1 GiB of pixels); larger ones are
// refused rather than allocated.
inline constexpr std::uint64_t kMaxBitmapPixels = std::uint64_t(1) << 28;

class TINVBitmap final : public INVBitmap {
public:
  // A white-less, zero-filled bitmap; none for a side <= 0, a picture over
  // the limit or no memory.
  static std::shared_ptr<TINVBitmap> Create(std::int32_t width, std::int32_t height);

  std::int32_t PixelWidth() const override { return width_; }
  std::int32_t PixelHeight() const override { return height_; }
  std::vector<std::uint8_t> ToBmpBytes() const override;
  std::vector<std::uint8_t> ToPngBytes(int format) override;
  bool SaveAsBmp(const std::string& path) const override;
  bool SaveAsPng(const std::string& path, int format) override;
  NVBitmapPtr Resized(std::int32_t width, std::int32_t height) const override;
  std::span<std::uint8_t> Pixels() override { return pixels_; }
  std::span<const std::uint8_t> Pixels() const override { return pixels_; }

  TINVBitmap(std::int32_t width, std::int32_t height, std::vector<std::uint8_t> pixels)
      : width_(width), height_(height), pixels_(std::move(pixels)) {}

private:
  std::vector<std::uint8_t> colourPng() const;
  std::vector<std::uint8_t> greyPng();

  std::int32_t width_;
  std::int32_t height_;
  std::vector<std::uint8_t> pixels_;
};

// A BMP file or its bytes as a bitmap: 1, 4, 8, 16, 24 or 32 bits per pixel,
// uncompressed or with bit fields, bottom-up or top-down. Anything else, and
// any header that does not fit the file, gives none.
NVBitmapPtr LoadBmpFile(const std::string& path);
NVBitmapPtr LoadBmpBytes(std::span<const std::uint8_t> bytes);

// The bitmap's size fitted into width x height with its proportions kept.
struct FittedSize {
  std::int32_t width;
  std::int32_t height;
};
FittedSize FitSize(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t width, std::int32_t height);

// --- Mitchell filter --------------------------------------------------------

// One source pixel's share in a destination pixel, in 1/65536.
struct Contributor {
  std::int32_t pixel;
  std::int32_t weight;
};
// For each of `destination` positions, the source positions (mirrored at the
// edges) that feed it.
std::vector<std::vector<Contributor>> MitchellContributors(std::int32_t destination, std::int32_t source);
// Scales 4-byte pixels (blue, green, red, unused) with the Mitchell-Netravali
// filter (B = C = 1/3); the unused byte of the destination is left as it is.
void MitchellResample(std::span<const std::uint8_t> source, std::int32_t sourceWidth, std::int32_t sourceHeight,
                      std::span<std::uint8_t> destination, std::int32_t destinationWidth,
                      std::int32_t destinationHeight);

// --- PNG writing ---------------------------------------------------------------

using Palette = std::array<std::uint8_t, 768>;  // red, green, blue per entry

// A box of Wu's quantiser on the 33-step colour grid: lower bounds exclusive,
// upper inclusive.
struct WuBox {
  int r0, r1, g0, g1, b0, b1;
};

// Wu's quantiser: fills up to `colours` entries of `palette` with the mean
// colours of boxes that split the pixels' colour histogram with the least
// variance; entries of empty boxes stay as they are. The number of boxes;
// their bounds in `boxes` when asked.
int OptimalPalette(std::span<const std::uint8_t> pixels, Palette& palette, int colours,
                   std::vector<WuBox>* boxes = nullptr);

// Caches of the nearest-colour searches; all cells start at -1.
struct PaletteCache {
  std::vector<std::int16_t> cells = std::vector<std::int16_t>(32768, -1);
};
struct GreyCache {
  std::array<std::int16_t, 256> cells = [] {
    std::array<std::int16_t, 256> a{};
    a.fill(-1);
    return a;
  }();
};

// The palette entry nearest (sum of channel differences, the first on ties)
// to the first colour met in the colour's 32-step cell.
int NearestPaletteIndex(PaletteCache& cache, const Palette& palette, std::uint8_t red, std::uint8_t green,
                        std::uint8_t blue);

// The 16 grey levels of the grey PNG.
inline constexpr std::array<std::uint8_t, 16> kGreyLevels = {0,   28,  52,  73,  92,  109, 125, 140,
                                                             155, 170, 185, 199, 213, 227, 241, 255};
int NearestGrey(GreyCache& cache, std::uint8_t grey);

// Appends a chunk: length, type, data and the CRC of type and data.
void AppendPngChunk(std::vector<std::uint8_t>& png, std::string_view type, std::span<const std::uint8_t> data);
// A palette PNG (depth 8 for 256 entries, 4 for 16) of filtered rows (each
// row's filter byte 0 already in place); empty when compressing fails.
std::vector<std::uint8_t> BuildPng(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> palette,
                                   std::span<const std::uint8_t> rows);

}  // namespace zeb
