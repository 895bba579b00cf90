#include "tests/png/PngTestImages.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pngtest {

Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {
void putU32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}
std::uint32_t getU32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint32_t crcOf(std::string_view type, std::span<const std::uint8_t> data) {
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  return static_cast<std::uint32_t>(crc);
}
}  // namespace

PngFile::PngFile() : bytes_{137, 80, 78, 71, 13, 10, 26, 10} {}

PngFile& PngFile::chunkStart(std::uint32_t length, std::string_view type) {
  putU32(bytes_, length);
  bytes_.insert(bytes_.end(), type.begin(), type.begin() + 4);
  return *this;
}

PngFile& PngFile::chunk(std::string_view type, std::span<const std::uint8_t> data) {
  chunkStart(static_cast<std::uint32_t>(data.size()), type);
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  putU32(bytes_, crcOf(type, data));
  return *this;
}

PngFile& PngFile::badCrcChunk(std::string_view type, std::span<const std::uint8_t> data) {
  chunkStart(static_cast<std::uint32_t>(data.size()), type);
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  putU32(bytes_, crcOf(type, data) + 1);
  return *this;
}

PngFile& PngFile::ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t bitDepth, std::uint8_t colorType,
                       std::uint8_t interlace, std::uint8_t compression) {
  Bytes d;
  putU32(d, width);
  putU32(d, height);
  d.insert(d.end(), {bitDepth, colorType, compression, 0, interlace});
  return chunk("IHDR", d);
}

PngFile& PngFile::idat(std::span<const std::uint8_t> zlibStream, int parts) {
  std::size_t step = (zlibStream.size() + parts - 1) / parts;
  for (std::size_t off = 0; off < zlibStream.size(); off += step)
    chunk("IDAT", zlibStream.subspan(off, std::min(step, zlibStream.size() - off)));
  return *this;
}

PngFile& PngFile::iend() { return chunk("IEND", {}); }

Bytes unfilteredRows(std::span<const std::uint8_t> raw, std::size_t rowBytes) {
  Bytes out;
  for (std::size_t off = 0; off < raw.size(); off += rowBytes) {
    out.push_back(0);
    out.insert(out.end(), raw.begin() + off, raw.begin() + off + rowBytes);
  }
  return out;
}

Bytes zlibCompress(std::span<const std::uint8_t> data, int level) {
  uLongf size = compressBound(data.size());
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), data.size(), level) != Z_OK) return {};
  out.resize(size);
  return out;
}

Bytes zlibInflate(std::span<const std::uint8_t> stream) {
  z_stream zs{};
  inflateInit(&zs);
  zs.next_in = const_cast<Bytef*>(stream.data());
  zs.avail_in = static_cast<uInt>(stream.size());
  Bytes out;
  std::uint8_t block[4096];
  int ret;
  do {
    zs.next_out = block;
    zs.avail_out = sizeof block;
    ret = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), block, block + (sizeof block - zs.avail_out));
  } while (ret == Z_OK);
  inflateEnd(&zs);
  return out;
}

std::vector<Chunk> chunksOf(std::span<const std::uint8_t> file) {
  std::vector<Chunk> chunks;
  std::size_t pos = 8;
  while (pos + 12 <= file.size()) {
    std::uint32_t length = getU32(file.data() + pos);
    if (length > file.size() - pos - 12) break;
    Chunk c;
    c.type.assign(reinterpret_cast<const char*>(file.data() + pos + 4), 4);
    c.data.assign(file.begin() + pos + 8, file.begin() + pos + 8 + length);
    chunks.push_back(std::move(c));
    pos += 12 + length;
  }
  return chunks;
}

Bytes idatStream(std::span<const std::uint8_t> file) {
  Bytes out;
  for (const Chunk& c : chunksOf(file))
    if (c.type == "IDAT") out.insert(out.end(), c.data.begin(), c.data.end());
  return out;
}

namespace {
struct MemoryInput {
  std::span<const std::uint8_t> bytes;
  std::size_t pos = 0;
};
void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (count > in->bytes.size() - in->pos) png_error(png, "read past end");
  std::memcpy(out, in->bytes.data() + in->pos, count);
  in->pos += count;
}
void quietWarning(png_structp, png_const_charp) {}
}  // namespace

std::vector<std::string> chunkTypes(const TPngPicture& image) {
  std::vector<std::string> types;
  for (std::size_t i = 0; i < image.Chunks().Count(); ++i) {
    const TChunkType& t = image.Chunks().ChunkAt(i)->TypeCode();
    types.emplace_back(t.begin(), t.end());
  }
  return types;
}

Rgba libpngRgba(std::span<const std::uint8_t> file) {
  Rgba result;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, quietWarning);
  png_infop info = png_create_info_struct(png);
  MemoryInput input{file};
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
  }
  png_set_read_fn(png, &input, readFromMemory);
  png_read_info(png, info);
  png_set_strip_16(png);
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  result.width = png_get_image_width(png, info);
  result.height = png_get_image_height(png, info);
  result.pixels.assign(std::size_t(result.width) * result.height * 4, 0);
  rows.resize(result.height);
  for (std::uint32_t y = 0; y < result.height; ++y) rows[y] = result.pixels.data() + std::size_t(y) * result.width * 4;
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

Rgba storeRgba(const TPngPicture& image) {
  Rgba result;
  if (!image.HasHeader() || !image.HeaderChunk().HasPixelStore()) return result;
  const TChunkIHDR& h = image.HeaderChunk();
  result.width = h.Width();
  result.height = h.Height();
  result.pixels.resize(std::size_t(h.Width()) * h.Height() * 4);
  const unsigned bits = h.DibInfo().biBitCount;
  const TChunktRNS* trns = image.Chunks().FirstOfClass<TChunktRNS>();
  const bool palette = h.HeaderFields().ColorType == 3;
  auto alpha = h.AlphaBytes();
  auto mask = h.KeyMaskBytes();
  for (std::uint32_t y = 0; y < h.Height(); ++y) {
    const std::uint8_t* row = h.PixelBytes().data() + std::size_t(h.RowStride()) * (h.Height() - 1 - y);
    for (std::uint32_t x = 0; x < h.Width(); ++x) {
      std::uint8_t* o = result.pixels.data() + (std::size_t(y) * h.Width() + x) * 4;
      std::size_t at = std::size_t(y) * h.Width() + x;
      unsigned index = 0;
      if (h.Indexed()) {
        std::size_t bit = std::size_t(x) * bits;
        index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        const TRgbQuad& c = h.ColorTable()[index];
        o[0] = c.rgbRed;
        o[1] = c.rgbGreen;
        o[2] = c.rgbBlue;
      } else {
        o[0] = row[3 * x + 2];
        o[1] = row[3 * x + 1];
        o[2] = row[3 * x];
      }
      o[3] = !alpha.empty()          ? alpha[at]
             : palette && trns       ? trns->AlphaTable()[index]
             : !mask.empty() && mask[at] ? 0
                                     : 255;
    }
  }
  return result;
}

Bytes referencePixels(const std::filesystem::path& json, bool sixteenBit) {
  std::ifstream in(json);
  if (!in) return {};
  Bytes out;
  unsigned long value = 0;
  bool inNumber = false;
  for (char c; in.get(c);) {
    if (c >= '0' && c <= '9') {
      value = value * 10 + unsigned(c - '0');
      inNumber = true;
    } else if (inNumber) {
      out.push_back(static_cast<std::uint8_t>(sixteenBit ? value >> 8 : value));
      value = 0;
      inNumber = false;
    }
  }
  return out;
}

}  // namespace pngtest
