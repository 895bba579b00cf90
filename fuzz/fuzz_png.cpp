// Feeds arbitrary bytes to the PNG reader: it must never crash, and an image
// that loads must save and load again to the very same pixel store.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>
#include <array>

#include "png/pngpicture.h"

namespace {

// Small enough that a header claiming a huge image is refused at once.
constexpr std::uint64_t kStoreLimit = 4u << 20;

void load(TPngPicture& image, std::span<const std::uint8_t> bytes) {
  image.SetPixelStoreLimit(kStoreLimit);
  image.LoadFromBytes(bytes);
}

bool sameStore(const TChunkIHDR& a, const TChunkIHDR& b) {
  auto eq = [](std::span<const std::uint8_t> x, std::span<const std::uint8_t> y) {
    return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size()) == 0);
  };
  return eq(a.PixelBytes(), b.PixelBytes()) && eq(a.AlphaBytes(), b.AlphaBytes()) &&
         eq(a.KeyMaskBytes(), b.KeyMaskBytes()) && a.ColorTable() == b.ColorTable();
}

// Mutated chunks almost never keep a valid CRC, which would stop the reader
// at the first one; so most runs get their CRCs mended before loading.
std::vector<std::uint8_t> withMendedCrcs(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  std::size_t pos = 8;
  while (pos + 12 <= bytes.size()) {
    const std::uint8_t* p = bytes.data() + pos;
    std::size_t length = std::size_t(p[0]) << 24 | std::size_t(p[1]) << 16 | std::size_t(p[2]) << 8 | p[3];
    if (length > bytes.size() - pos - 12) break;
    std::array<std::uint8_t, 4> type = {p[4], p[5], p[6], p[7]};
    std::uint32_t crc = ChunkCrc(type, std::span<const std::uint8_t>(p + 8, length));
    for (int i = 0; i < 4; ++i) bytes[pos + 8 + length + i] = std::uint8_t(crc >> (24 - 8 * i));
    pos += 12 + length;
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TPngPicture image;
  const bool mend = size > 0 && (data[size - 1] & 2) == 0;
  const std::vector<std::uint8_t> input = mend ? withMendedCrcs(data, size) : std::vector<std::uint8_t>(data, data + size);
  try {
    load(image, input);
  } catch (const std::runtime_error&) {
    // What a failed load kept is still drawn (a paint event may meet it).
    (void)image.DrawSource();
    return 0;
  }
  const TPngDrawSource drawn = image.DrawSource();
  if (drawn.argb.size() != std::size_t(drawn.width) * drawn.height) __builtin_trap();
  // Every setting of the writer must give a file that reads back the same.
  image.SetAllowedFilters(size ? data[0] & kAllPngFilters : 0);
  image.SetInterlacing(size ? data[size - 1] & 1 : 0);
  PngByteWriter written = image.SaveToBytes();
  TPngPicture again;
  try {
    load(again, written);
  } catch (const std::runtime_error&) {
    __builtin_trap();
  }
  if (!sameStore(image.HeaderChunk(), again.HeaderChunk())) __builtin_trap();

  // With an alpha channel added the image still writes a file that reads back.
  try {
    image.AddAlphaPlane();
  } catch (const std::runtime_error&) {
    return 0;  // past the store limit, or a palette image without IEND
  }
  (void)image.GetPixel(std::int64_t(image.GetWidth()) - 1, 0);
  TPngPicture withAlpha;
  try {
    load(withAlpha, image.SaveToBytes());
  } catch (const std::runtime_error&) {
    __builtin_trap();
  }
  return 0;
}
