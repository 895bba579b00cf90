#pragma once

// What the PNG tests share: PNG files built chunk by chunk, libpng's reading
// of the same bytes, and the colours of a decoded store.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "png/pngpicture.h"

namespace pngtest {

using Bytes = std::vector<std::uint8_t>;

Bytes readBytes(const std::filesystem::path& path);

// A PNG file put together chunk by chunk, each with its correct CRC unless
// said otherwise.
class PngFile {
public:
  PngFile();
  PngFile& chunk(std::string_view type, std::span<const std::uint8_t> data);
  PngFile& chunk(std::string_view type, std::initializer_list<std::uint8_t> data) {
    return chunk(type, std::span<const std::uint8_t>(data.begin(), data.size()));
  }
  // A chunk whose stored CRC is off by one.
  PngFile& badCrcChunk(std::string_view type, std::span<const std::uint8_t> data);
  // Only a length and type: the data and CRC are missing.
  PngFile& chunkStart(std::uint32_t length, std::string_view type);
  PngFile& ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t bitDepth, std::uint8_t colorType,
                std::uint8_t interlace = 0, std::uint8_t compression = 0);
  // The zlib stream split into `parts` consecutive IDAT chunks.
  PngFile& idat(std::span<const std::uint8_t> zlibStream, int parts = 1);
  PngFile& iend();
  const Bytes& bytes() const { return bytes_; }

private:
  Bytes bytes_;
};

// Filter byte 0 before each row of `rowBytes` bytes of `raw`.
Bytes unfilteredRows(std::span<const std::uint8_t> raw, std::size_t rowBytes);
Bytes zlibCompress(std::span<const std::uint8_t> data, int level = 6);
Bytes zlibInflate(std::span<const std::uint8_t> stream);

struct Chunk {
  std::string type;
  Bytes data;
};
// The chunks of a well-formed file, in order.
std::vector<Chunk> chunksOf(std::span<const std::uint8_t> file);
// The types of an image's chunks, in list order.
std::vector<std::string> chunkTypes(const TPngPicture& image);
// The concatenated data of all IDAT chunks.
Bytes idatStream(std::span<const std::uint8_t> file);

struct Rgba {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes pixels;  // r, g, b, a per pixel, top row first
};
// libpng's 8-bit RGBA reading: 16-bit samples cut to their high byte, packed
// samples widened, palettes and tRNS expanded, no gamma. Empty on error.
Rgba libpngRgba(std::span<const std::uint8_t> file);

// The colours of a decoded store (through the colour table when indexed), and
// the alpha that goes with them: the alpha plane, the tRNS alpha of palette
// entries, or 0 where the key mask is set.
Rgba storeRgba(const TPngPicture& image);

// Reference pixels of the suite: r, g, b, a per pixel, 16-bit files cut to
// their high byte. Empty when the file is missing.
Bytes referencePixels(const std::filesystem::path& json, bool sixteenBit);

}  // namespace pngtest
