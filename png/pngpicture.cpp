#include "png/pngpicture.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <iterator>
#include <limits>
#include <mutex>
#include <ostream>
#include <typeinfo>

namespace {

// A chunk length above this is never valid, whatever the file size.
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;

constexpr TChunkType typeOf(std::string_view name) {
  return {std::uint8_t(name[0]), std::uint8_t(name[1]), std::uint8_t(name[2]), std::uint8_t(name[3])};
}
constexpr TChunkType kIHDR = typeOf("IHDR");
constexpr TChunkType kIDAT = typeOf("IDAT");
constexpr TChunkType kIEND = typeOf("IEND");
constexpr TChunkType kCHRM = typeOf("cHRM");

[[noreturn]] void RaisePngError(auto exception) { throw exception; }

template <class E>
[[noreturn]] void Raise(std::string_view message) {
  RaisePngError(E(std::string(message)));
}

[[noreturn]] void RaiseZlibError(int code) {
  std::string message(pngtext::kZlibError);
  message += ZlibErrorText(code);
  RaisePngError(EPNGZLIBError(message));
}

void putU32(PngByteWriter& out, std::uint32_t v) {
  out.push_back(std::uint8_t(v >> 24));
  out.push_back(std::uint8_t(v >> 16));
  out.push_back(std::uint8_t(v >> 8));
  out.push_back(std::uint8_t(v));
}

std::uint32_t getU32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void writeChunk(PngByteWriter& out, const TChunkType& type, std::span<const std::uint8_t> data) {
  putU32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  putU32(out, ChunkCrc(type, data));
}

bool isCritical(const TChunkType& type) { return (type[0] & 0x20) == 0; }

// Reads a chunk's length and type and checks that its data and CRC are in the
// file, before anything is allocated for it.
struct ChunkStart {
  std::uint32_t length;
  TChunkType type;
};
ChunkStart readChunkStart(PngByteReader& in) {
  if (in.left() < 8) Raise<EPngUnexpectedEnd>(pngtext::kUnexpectedEnd);
  ChunkStart start;
  start.length = in.readU32();
  auto t = in.read(4);
  std::copy(t.begin(), t.end(), start.type.begin());
  return start;
}
void checkChunkFits(const PngByteReader& in, std::uint32_t length) {
  if (length > kMaxChunkLength || length > in.left() || in.left() - length < 4)
    Raise<EPngUnexpectedEnd>(pngtext::kUnexpectedEnd);
}

struct Adam7Pass {
  std::uint32_t firstRow, rowStep, firstCol, colStep;
};
constexpr Adam7Pass kAdam7[7] = {{0, 8, 0, 8}, {0, 8, 4, 8}, {4, 8, 0, 4}, {0, 4, 2, 4},
                                 {2, 4, 0, 2}, {0, 2, 1, 2}, {1, 2, 0, 1}};

std::uint32_t passPixels(std::uint32_t width, const Adam7Pass& pass) {
  return width > pass.firstCol ? (width - pass.firstCol + pass.colStep - 1) / pass.colStep : 0;
}

// Packed samples, most significant first.
inline unsigned getSample(const std::uint8_t* row, std::size_t index, unsigned bits) {
  std::size_t bit = index * bits;
  unsigned shift = 8 - bits - unsigned(bit & 7);
  return (row[bit >> 3] >> shift) & ((1u << bits) - 1);
}
inline void orSample(std::uint8_t* row, std::size_t index, unsigned bits, unsigned value) {
  std::size_t bit = index * bits;
  unsigned shift = 8 - bits - unsigned(bit & 7);
  row[bit >> 3] = std::uint8_t(row[bit >> 3] | (value << shift));
}

inline std::uint8_t paeth(int a, int b, int c) {
  int pa = std::abs(b - c);
  int pb = std::abs(a - c);
  int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return std::uint8_t(a);
  if (pb <= pc) return std::uint8_t(b);
  return std::uint8_t(c);
}

// The tRNS key of a grey (one sample) or colour (three samples) image, as
// 16-bit values; none when the chunk is missing or too short.
struct KeyColour {
  bool present = false;
  unsigned samples[3] = {0, 0, 0};
};
KeyColour keyColourOf(const TPngPicture& image, std::uint8_t colorType) {
  KeyColour key;
  if (colorType != 0 && colorType != 2) return key;
  const TChunktRNS* trns = image.Chunks().FirstOfClass<TChunktRNS>();
  if (!trns) return key;
  unsigned n = colorType == 0 ? 1 : 3;
  if (trns->ByteCount() < 2 * n) return key;
  const auto& t = trns->AlphaTable();
  for (unsigned i = 0; i < n; ++i) key.samples[i] = unsigned(t[2 * i]) << 8 | t[2 * i + 1];
  key.present = true;
  return key;
}

// ---------------------------------------------------------------------------
// Decoding

class ImageDataDecoder {
public:
  ImageDataDecoder(TPngPicture& image, TChunkIHDR& header, PngByteReader& in)
      : image_(image), header_(header), in_(in) {}
  ~ImageDataDecoder() {
    if (inflating_) inflateEnd(&zs_);
  }

  void Run(const TChunkType& type, std::uint32_t size) {
    if (!header_.HasPixelStore()) Raise<EPngInvalidIHDR>(pngtext::kInvalidIhdr);
    const TPngHeaderFields& h = header_.HeaderFields();
    width_ = h.Width;
    height_ = h.Height;
    colorType_ = h.ColorType;
    bitDepth_ = h.BitDepth;
    gamma_ = &image_.DecodeGamma();
    if (header_.Indexed()) BuildGreyPalette();
    key_ = keyColourOf(image_, colorType_);
    if (key_.present) header_.PrepareKeyMask();

    crc_ = crc32(0, type.data(), 4);
    std::uint32_t rowBytes = 0, pixelOffset = 0;
    image_.GetRowLayout(rowBytes, pixelOffset);
    pixelOffset_ = std::max<std::uint32_t>(pixelOffset, 1);
    chunkEnd_ = in_.position() + size;

    std::memset(&zs_, 0, sizeof zs_);
    int ret = inflateInit(&zs_);
    if (ret != Z_OK) RaiseZlibError(ret);
    inflating_ = true;

    rows_[0].assign(std::size_t(rowBytes) + 1, 0);
    rows_[1].assign(std::size_t(rowBytes) + 1, 0);
    current_ = 1;
    if (image_.Interlacing() == 0)
      UnpackRows(rowBytes);
    else
      UnpackAdam7Passes();
    FinishChunk();
  }

private:
  void BuildGreyPalette() {
    if (colorType_ != 0 && colorType_ != 4) return;
    unsigned bits = header_.DibInfo().biBitCount;
    unsigned n = 1u << bits;
    auto& table = header_.ColorTable();
    for (unsigned i = 0; i < n; ++i) {
      std::uint8_t v = (*gamma_)[(i * 255 + (n - 1) / 2) / (n - 1)];
      table[i] = TRgbQuad{v, v, v, 0};
    }
  }

  // Fills up to `count` bytes of inflated data; fewer only when the image data
  // has run out (the zlib stream ended or asked for a dictionary).
  std::size_t ReadImageBytes(std::uint8_t* dst, std::size_t count) {
    zs_.next_out = dst;
    zs_.avail_out = static_cast<uInt>(count);
    while (zs_.avail_out > 0 && !streamDone_) {
      if (zs_.avail_in == 0) {
        if (in_.position() == chunkEnd_) {
          NextChunk();
          continue;
        }
        std::size_t n = std::min<std::size_t>(65535, chunkEnd_ - in_.position());
        auto block = in_.read(n);
        crc_ = crc32(crc_, block.data(), static_cast<uInt>(n));
        zs_.next_in = block.data();
        zs_.avail_in = static_cast<uInt>(n);
      }
      int ret = inflate(&zs_, Z_NO_FLUSH);
      if (ret == Z_STREAM_END || ret == Z_NEED_DICT) {
        streamDone_ = true;
      } else if (ret < 0) {
        RaiseZlibError(ret);
      }
    }
    return count - zs_.avail_out;
  }

  // This IDAT chunk's data is used up: check its CRC and go on with the next,
  // which must be an IDAT chunk too.
  void NextChunk() {
    if (in_.readU32() != static_cast<std::uint32_t>(crc_))
      Raise<EPngInvalidCRC>(pngtext::kInvalidCrc);
    ChunkStart next = readChunkStart(in_);
    if (next.type != kIDAT)
      Raise<EPNGMissingMultipleIDAT>(pngtext::kMissingMultipleIdat);
    checkChunkFits(in_, next.length);
    crc_ = crc32(0, next.type.data(), 4);
    chunkEnd_ = in_.position() + next.length;
  }

  // The part of the chunk the rows did not need still counts for its CRC.
  void FinishChunk() {
    if (chunkEnd_ > in_.position()) {
      auto rest = in_.read(chunkEnd_ - in_.position());
      crc_ = crc32_z(crc_, rest.data(), rest.size());
    }
    if (in_.readU32() != static_cast<std::uint32_t>(crc_))
      Raise<EPngInvalidCRC>(pngtext::kInvalidCrc);
  }

  void UnfilterRow(std::uint8_t* row, const std::uint8_t* prev, std::size_t n) {
    std::uint8_t filter = row[0];
    std::uint8_t* r = row + 1;
    const std::uint8_t* p = prev + 1;
    const std::size_t d = pixelOffset_;
    switch (filter) {
      case 1:
        for (std::size_t i = d; i < n; ++i) r[i] = std::uint8_t(r[i] + r[i - d]);
        break;
      case 2:
        for (std::size_t i = 0; i < n; ++i) r[i] = std::uint8_t(r[i] + p[i]);
        break;
      case 3:
        for (std::size_t i = 0; i < d && i < n; ++i) r[i] = std::uint8_t(r[i] + (p[i] >> 1));
        for (std::size_t i = d; i < n; ++i) r[i] = std::uint8_t(r[i] + ((p[i] + r[i - d]) >> 1));
        break;
      case 4:
        // With no left neighbour the predictor is the byte above.
        for (std::size_t i = 0; i < d && i < n; ++i) r[i] = std::uint8_t(r[i] + p[i]);
        for (std::size_t i = d; i < n; ++i) r[i] = std::uint8_t(r[i] + paeth(r[i - d], p[i], p[i - d]));
        break;
      default:
        break;  // 0, and unknown types are taken unfiltered
    }
  }

  // Converts `count` pixels of unfiltered samples into image row y, pixel k
  // landing at column firstCol + k × colStep.
  void ConvertRow(const std::uint8_t* s, std::uint32_t y, std::uint32_t firstCol, std::uint32_t colStep,
                  std::uint32_t count) {
    if (count == 0) return;  // a zero width passes the header check
    std::uint8_t* q = header_.PixelRow(y);
    std::uint8_t* alpha = header_.AlphaPlane() ? header_.AlphaPlane() + std::size_t(y) * width_ : nullptr;
    const TGammaTable& g = *gamma_;
    const unsigned bd = bitDepth_;
    auto col = [&](std::uint32_t k) { return std::size_t(firstCol) + std::size_t(k) * colStep; };
    switch (colorType_) {
      case 0:
      case 3:
        if (bd == 16) {
          for (std::uint32_t k = 0; k < count; ++k) q[col(k)] = s[2 * k];
        } else if (bd == 2) {
          // A 2-bit sample is held as a 4-bit one: palette indexes keep their
          // value, greys are scaled so the 16-entry ramp shows 0, 85, 170, 255.
          unsigned scale = colorType_ == 0 ? 5 : 1;
          for (std::uint32_t k = 0; k < count; ++k) orSample(q, col(k), 4, getSample(s, k, 2) * scale);
        } else if (colStep == 1) {
          std::size_t bits = std::size_t(count) * bd;
          std::size_t bytes = (bits + 7) / 8;
          std::memcpy(q, s, bytes);
          if (bits & 7) q[bytes - 1] = std::uint8_t(q[bytes - 1] & (0xFF << (8 - (bits & 7))));
        } else {
          for (std::uint32_t k = 0; k < count; ++k) orSample(q, col(k), bd, getSample(s, k, bd));
        }
        break;
      case 2:
        if (bd == 8) {
          for (std::uint32_t k = 0; k < count; ++k) {
            std::uint8_t* o = q + 3 * col(k);
            const std::uint8_t* p = s + 3 * std::size_t(k);
            o[0] = g[p[2]];
            o[1] = g[p[1]];
            o[2] = g[p[0]];
          }
        } else {
          for (std::uint32_t k = 0; k < count; ++k) {
            std::uint8_t* o = q + 3 * col(k);
            const std::uint8_t* p = s + 6 * std::size_t(k);
            o[0] = g[p[4]];
            o[1] = g[p[2]];
            o[2] = g[p[0]];
          }
        }
        break;
      case 4: {
        const unsigned step = bd == 8 ? 2 : 4;
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint8_t* p = s + step * std::size_t(k);
          q[col(k)] = p[0];
          alpha[col(k)] = p[step / 2];
        }
        break;
      }
      case 6:
        if (bd == 8) {
          for (std::uint32_t k = 0; k < count; ++k) {
            std::uint8_t* o = q + 3 * col(k);
            const std::uint8_t* p = s + 4 * std::size_t(k);
            o[0] = g[p[2]];
            o[1] = g[p[1]];
            o[2] = g[p[0]];
            alpha[col(k)] = p[3];
          }
        } else {
          for (std::uint32_t k = 0; k < count; ++k) {
            std::uint8_t* o = q + 3 * col(k);
            const std::uint8_t* p = s + 8 * std::size_t(k);
            o[0] = g[p[4]];
            o[1] = g[p[2]];
            o[2] = g[p[0]];
            alpha[col(k)] = p[6];
          }
        }
        break;
    }
    if (key_.present) MarkKeyedPixels(s, y, firstCol, colStep, count);
  }

  // Transparency by key is decided on the samples as stored in the file,
  // before gamma or narrowing, so a 16-bit key must match whole.
  void MarkKeyedPixels(const std::uint8_t* s, std::uint32_t y, std::uint32_t firstCol, std::uint32_t colStep,
                       std::uint32_t count) {
    std::uint8_t* mask = header_.KeyMask() + std::size_t(y) * width_;
    const unsigned bd = bitDepth_;
    for (std::uint32_t k = 0; k < count; ++k) {
      bool keyed;
      if (colorType_ == 0) {
        unsigned v = bd == 16 ? (unsigned(s[2 * k]) << 8 | s[2 * k + 1]) : getSample(s, k, bd);
        keyed = v == key_.samples[0];
      } else if (bd == 8) {
        const std::uint8_t* p = s + 3 * std::size_t(k);
        keyed = p[0] == key_.samples[0] && p[1] == key_.samples[1] && p[2] == key_.samples[2];
      } else {
        const std::uint8_t* p = s + 6 * std::size_t(k);
        keyed = (unsigned(p[0]) << 8 | p[1]) == key_.samples[0] && (unsigned(p[2]) << 8 | p[3]) == key_.samples[1] &&
                (unsigned(p[4]) << 8 | p[5]) == key_.samples[2];
      }
      if (keyed) mask[std::size_t(firstCol) + std::size_t(k) * colStep] = 1;
    }
  }

  void UnpackRows(std::uint32_t rowBytes) {
    for (std::uint32_t y = 0; y < height_; ++y) {
      std::uint8_t* row = rows_[current_].data();
      if (ReadImageBytes(row, std::size_t(rowBytes) + 1) < std::size_t(rowBytes) + 1) return;
      UnfilterRow(row, rows_[1 - current_].data(), rowBytes);
      ConvertRow(row + 1, y, 0, 1, width_);
      current_ ^= 1;
    }
  }

  void UnpackAdam7Passes() {
    for (const Adam7Pass& pass : kAdam7) {
      std::uint32_t pixels = passPixels(width_, pass);
      std::uint32_t rowBytes = RowByteCount(pixels, colorType_, bitDepth_);
      std::fill(rows_[1 - current_].begin(), rows_[1 - current_].end(), 0);
      if (rowBytes == 0) continue;
      for (std::uint32_t y = pass.firstRow; y < height_; y += pass.rowStep) {
        std::uint8_t* row = rows_[current_].data();
        if (ReadImageBytes(row, std::size_t(rowBytes) + 1) < std::size_t(rowBytes) + 1) return;
        UnfilterRow(row, rows_[1 - current_].data(), rowBytes);
        ConvertRow(row + 1, y, pass.firstCol, pass.colStep, pixels);
        current_ ^= 1;
      }
    }
  }

  TPngPicture& image_;
  TChunkIHDR& header_;
  PngByteReader& in_;
  z_stream zs_;
  bool inflating_ = false;
  bool streamDone_ = false;
  uLong crc_ = 0;
  std::size_t chunkEnd_ = 0;
  std::uint32_t width_ = 0, height_ = 0, pixelOffset_ = 1;
  std::uint8_t colorType_ = 0, bitDepth_ = 0;
  const TGammaTable* gamma_ = nullptr;
  KeyColour key_;
  std::vector<std::uint8_t> rows_[2];
  int current_ = 1;
};

// ---------------------------------------------------------------------------
// Encoding

class ImageDataEncoder {
public:
  ImageDataEncoder(TPngPicture& image, TChunkIHDR& header, PngByteWriter& out)
      : image_(image), header_(header), out_(out) {}
  ~ImageDataEncoder() {
    if (deflating_) deflateEnd(&zs_);
  }

  void Run() {
    const TPngHeaderFields& h = header_.HeaderFields();
    if (!header_.HasPixelStore() ||
        TChunkIHDR::StoreBitsPerPixel(h.ColorType, h.BitDepth) != header_.DibInfo().biBitCount)
      Raise<EPngInvalidIHDR>(pngtext::kInvalidIhdr);
    width_ = h.Width;
    height_ = h.Height;
    colorType_ = h.ColorType;
    bitDepth_ = h.BitDepth;
    gamma_ = &image_.EncodeGamma();
    key_ = keyColourOf(image_, colorType_);
    if (header_.KeyMaskBytes().empty()) key_.present = false;
    allowed_ = image_.AllowedFilters();

    std::uint32_t rowBytes = 0, pixelOffset = 0;
    image_.GetRowLayout(rowBytes, pixelOffset);
    pixelOffset_ = std::max<std::uint32_t>(pixelOffset, 1);
    raw_.assign(rowBytes, 0);
    prev_.assign(rowBytes, 0);
    for (int t = 1; t <= 4; ++t)
      if (allowed_ & (1u << t)) filtered_[t].assign(rowBytes, 0);

    buffer_.assign(static_cast<std::size_t>(image_.IdatLimit()), 0);
    std::memset(&zs_, 0, sizeof zs_);
    int ret = deflateInit(&zs_, image_.DeflateLevel());
    if (ret != Z_OK) RaiseZlibError(ret);
    deflating_ = true;
    zs_.next_out = buffer_.data();
    zs_.avail_out = static_cast<uInt>(buffer_.size());

    if (image_.Interlacing() == 0)
      PackRows(rowBytes);
    else
      PackAdam7Passes();
    FinishIdatStream();
  }

private:
  void PackRows(std::uint32_t rowBytes) {
    for (std::uint32_t y = 0; y < height_; ++y) {
      ConvertRow(y, 0, 1, width_, rowBytes);
      WriteRow(rowBytes);
    }
  }

  void PackAdam7Passes() {
    for (const Adam7Pass& pass : kAdam7) {
      std::uint32_t pixels = passPixels(width_, pass);
      std::uint32_t rowBytes = RowByteCount(pixels, colorType_, bitDepth_);
      std::fill(prev_.begin(), prev_.end(), 0);
      if (rowBytes == 0) continue;
      for (std::uint32_t y = pass.firstRow; y < height_; y += pass.rowStep) {
        ConvertRow(y, pass.firstCol, pass.colStep, pixels, rowBytes);
        WriteRow(rowBytes);
      }
    }
  }

  void WriteRow(std::uint32_t rowBytes) {
    std::uint8_t f = ChooseFilter(rowBytes);
    DeflateRowBytes(&f, 1);
    DeflateRowBytes(f == 0 ? prev_.data() : filtered_[f].data(), rowBytes);
  }

  // Stored pixels of image row y (columns firstCol + k × colStep) into raw_.
  void ConvertRow(std::uint32_t y, std::uint32_t firstCol, std::uint32_t colStep, std::uint32_t count,
                  std::uint32_t rowBytes) {
    if (count == 0) return;
    const std::uint8_t* q = header_.PixelRow(y);
    const std::uint8_t* alpha = header_.AlphaPlane() ? header_.AlphaPlane() + std::size_t(y) * width_ : nullptr;
    const TGammaTable& e = *gamma_;
    std::uint8_t* s = raw_.data();
    const unsigned bd = bitDepth_;
    auto col = [&](std::uint32_t k) { return std::size_t(firstCol) + std::size_t(k) * colStep; };
    switch (colorType_) {
      case 0:
      case 3:
        if (bd == 16) {
          for (std::uint32_t k = 0; k < count; ++k) {
            s[2 * k] = q[col(k)];
            s[2 * k + 1] = 0;
          }
        } else if (colStep == 1) {
          std::memcpy(s, q, rowBytes);
        } else {
          std::fill(s, s + rowBytes, 0);
          for (std::uint32_t k = 0; k < count; ++k) orSample(s, k, bd, getSample(q, col(k), bd));
        }
        break;
      case 2:
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint8_t* p = q + 3 * col(k);
          if (bd == 8) {
            std::uint8_t* o = s + 3 * std::size_t(k);
            o[0] = e[p[2]];
            o[1] = e[p[1]];
            o[2] = e[p[0]];
          } else {
            std::uint8_t* o = s + 6 * std::size_t(k);
            o[0] = e[p[2]];
            o[1] = 0;
            o[2] = e[p[1]];
            o[3] = 0;
            o[4] = e[p[0]];
            o[5] = 0;
          }
        }
        break;
      case 4:
        for (std::uint32_t k = 0; k < count; ++k) {
          if (bd == 8) {
            s[2 * k] = q[col(k)];
            s[2 * k + 1] = alpha[col(k)];
          } else {
            std::uint8_t* o = s + 4 * std::size_t(k);
            o[0] = q[col(k)];
            o[1] = 0;
            o[2] = alpha[col(k)];
            o[3] = 0;
          }
        }
        break;
      case 6:
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint8_t* p = q + 3 * col(k);
          if (bd == 8) {
            std::uint8_t* o = s + 4 * std::size_t(k);
            o[0] = e[p[2]];
            o[1] = e[p[1]];
            o[2] = e[p[0]];
            o[3] = alpha[col(k)];
          } else {
            std::uint8_t* o = s + 8 * std::size_t(k);
            o[0] = e[p[2]];
            o[1] = 0;
            o[2] = e[p[1]];
            o[3] = 0;
            o[4] = e[p[0]];
            o[5] = 0;
            o[6] = alpha[col(k)];
            o[7] = 0;
          }
        }
        break;
    }
    if (key_.present && (bd == 16 || colorType_ == 2)) KeepKeyedPixels(y, firstCol, colStep, count);
  }

  // The store keeps only the high byte of 16-bit samples and gamma-corrected
  // colours, so a pixel's key transparency would not survive a save on its
  // own: a keyed pixel is written as the key itself, and an opaque pixel that
  // would come out equal to the key is written as a neighbouring value that
  // decodes to the same stored colour (the low byte of a 16-bit sample, or
  // one step of an 8-bit sample within the same gamma step).
  void KeepKeyedPixels(std::uint32_t y, std::uint32_t firstCol, std::uint32_t colStep, std::uint32_t count) {
    const std::uint8_t* mask = header_.KeyMaskBytes().data() + std::size_t(y) * width_;
    const unsigned n = colorType_ == 0 ? 1 : 3;
    const unsigned bytes = bitDepth_ == 16 ? 2 : 1;
    const TGammaTable& decode = image_.DecodeGamma();
    for (std::uint32_t k = 0; k < count; ++k) {
      std::uint8_t* o = raw_.data() + std::size_t(k) * n * bytes;
      auto sample = [&](unsigned i) { return bytes == 2 ? unsigned(o[2 * i]) << 8 | o[2 * i + 1] : unsigned(o[i]); };
      if (mask[std::size_t(firstCol) + std::size_t(k) * colStep]) {
        for (unsigned i = 0; i < n; ++i) {
          if (bytes == 2) {
            o[2 * i] = std::uint8_t(key_.samples[i] >> 8);
            o[2 * i + 1] = std::uint8_t(key_.samples[i]);
          } else if (key_.samples[i] <= 0xFF) {
            o[i] = std::uint8_t(key_.samples[i]);
          }
        }
        continue;
      }
      bool equal = true;
      for (unsigned i = 0; i < n; ++i) equal = equal && sample(i) == key_.samples[i];
      if (!equal) continue;
      if (bytes == 2) {
        o[2 * n - 1] ^= 1;
        continue;
      }
      // Only colour samples pass through gamma; an unkeyed pixel decoded to
      // the key's colour, so one of its samples has such a neighbour.
      for (unsigned i = 0; i < n; ++i) {
        unsigned v = o[i];
        if (v > 0 && decode[v - 1] == decode[v]) {
          o[i] = std::uint8_t(v - 1);
          break;
        }
        if (v < 255 && decode[v + 1] == decode[v]) {
          o[i] = std::uint8_t(v + 1);
          break;
        }
      }
    }
  }

  std::uint8_t ChooseFilter(std::uint32_t n) {
    const std::uint8_t* x = raw_.data();
    const std::uint8_t* p = prev_.data();
    const std::size_t d = pixelOffset_;
    if (allowed_ & (1u << fkSub)) {
      std::uint8_t* o = filtered_[1].data();
      for (std::size_t i = 0; i < n; ++i) o[i] = std::uint8_t(x[i] - (i >= d ? x[i - d] : 0));
    }
    if (allowed_ & (1u << fkUp)) {
      std::uint8_t* o = filtered_[2].data();
      for (std::size_t i = 0; i < n; ++i) o[i] = std::uint8_t(x[i] - p[i]);
    }
    if (allowed_ & (1u << fkAverage)) {
      std::uint8_t* o = filtered_[3].data();
      for (std::size_t i = 0; i < n; ++i) o[i] = std::uint8_t(x[i] - ((p[i] + (i >= d ? x[i - d] : 0)) >> 1));
    }
    if (allowed_ & (1u << fkPaeth)) {
      std::uint8_t* o = filtered_[4].data();
      for (std::size_t i = 0; i < n; ++i) {
        int left = i >= d ? x[i - d] : 0;
        int upperLeft = i >= d ? p[i - d] : 0;
        o[i] = std::uint8_t(x[i] - paeth(left, p[i], upperLeft));
      }
    }
    if (n > 0) std::memcpy(prev_.data(), raw_.data(), n);
    if (allowed_ == 0 || allowed_ == (1u << fkNone)) return 0;
    // Score each candidate by how often a byte repeats one of the two before
    // it: a cheap stand-in for how well the row will compress.
    std::uint8_t best = 0;
    std::size_t bestCount = 0;
    for (unsigned t = 0; t <= 4; ++t) {
      if (!(allowed_ & (1u << t))) continue;
      if (allowed_ == (1u << t)) return std::uint8_t(t);
      const std::uint8_t* b = t == 0 ? prev_.data() : filtered_[t].data();
      std::size_t count = 0;
      for (std::size_t j = 2; j < n; ++j) count += (b[j] == b[j - 1] || b[j] == b[j - 2]);
      if (count > bestCount) {
        bestCount = count;
        best = std::uint8_t(t);
      }
    }
    return best;
  }

  void DeflateRowBytes(const std::uint8_t* bytes, std::size_t count) {
    zs_.next_in = bytes;
    zs_.avail_in = static_cast<uInt>(count);
    while (zs_.avail_in > 0) {
      int ret = deflate(&zs_, Z_NO_FLUSH);
      if (ret < 0) RaiseZlibError(ret);
      if (zs_.avail_out == 0) FlushBuffer();
    }
  }

  void FinishIdatStream() {
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    for (;;) {
      int ret = deflate(&zs_, Z_FINISH);
      if (ret < 0) RaiseZlibError(ret);
      if (zs_.avail_out == 0) FlushBuffer();
      if (ret == Z_STREAM_END) break;
    }
    if (zs_.avail_out < buffer_.size()) FlushBuffer();
  }

  // Writes the filled part of the buffer as one IDAT chunk.
  void FlushBuffer() {
    std::size_t filled = buffer_.size() - zs_.avail_out;
    writeChunk(out_, kIDAT, std::span<const std::uint8_t>(buffer_.data(), filled));
    zs_.next_out = buffer_.data();
    zs_.avail_out = static_cast<uInt>(buffer_.size());
  }

  TPngPicture& image_;
  TChunkIHDR& header_;
  PngByteWriter& out_;
  z_stream zs_;
  bool deflating_ = false;
  std::uint32_t width_ = 0, height_ = 0, pixelOffset_ = 1;
  std::uint8_t colorType_ = 0, bitDepth_ = 0;
  TPngFilterKinds allowed_ = 0;
  const TGammaTable* gamma_ = nullptr;
  KeyColour key_;
  std::vector<std::uint8_t> raw_, prev_, filtered_[5], buffer_;
};

// ---------------------------------------------------------------------------
// The registry of chunk classes.

struct ChunkClass {
  TChunkType type;
  TChunkFactory factory;
};

template <class C>
std::unique_ptr<TChunk> makeChunk(TPngPicture& image) {
  return std::make_unique<C>(image);
}

struct ChunkRegistry {
  std::mutex mutex;
  std::vector<ChunkClass> classes;
  ChunkRegistry() {
    auto add = [this](std::string_view name, TChunkFactory f) { classes.push_back({typeOf(name), f}); };
    add(TChunkIEND::ClassTypeName(), makeChunk<TChunkIEND>);
    add(TChunkIHDR::ClassTypeName(), makeChunk<TChunkIHDR>);
    add(TChunkIDAT::ClassTypeName(), makeChunk<TChunkIDAT>);
    add(TChunkPLTE::ClassTypeName(), makeChunk<TChunkPLTE>);
    add(TChunkgAMA::ClassTypeName(), makeChunk<TChunkgAMA>);
    add(TChunktRNS::ClassTypeName(), makeChunk<TChunktRNS>);
    add(TChunktIME::ClassTypeName(), makeChunk<TChunktIME>);
    add(TChunktEXt::ClassTypeName(), makeChunk<TChunktEXt>);
    add(TChunkzTXt::ClassTypeName(), makeChunk<TChunkzTXt>);
  }
};

ChunkRegistry& registry() {
  static ChunkRegistry r;
  return r;
}

std::uint8_t roundGamma(long double value) {
  // Nearest integer, halves to the even neighbour (the default rounding mode).
  long double r = std::nearbyint(value);
  return static_cast<std::uint8_t>(std::clamp<long double>(r, 0, 255));
}
std::uint8_t roundGamma(double value) {
  double r = std::nearbyint(value);
  return static_cast<std::uint8_t>(std::clamp(r, 0.0, 255.0));
}

}  // namespace

// ---------------------------------------------------------------------------

std::string_view ZlibErrorText(int code) {
  static constexpr std::string_view kTexts[] = {
      "incompatible version (-6)", "buffer error (-5)", "insufficient memory (-4)",
      "data error (-3)",           "stream error (-2)", "file error (-1)",
      "(0)",                       "stream end (1)",    "need dictionary (2)"};
  if (code < -6 || code > 2) return {};
  return kTexts[code + 6];
}

std::span<const std::uint8_t> PngByteReader::read(std::size_t count) {
  if (count > left()) Raise<EPngUnexpectedEnd>(pngtext::kUnexpectedEnd);
  auto out = bytes_.subspan(pos_, count);
  pos_ += count;
  return out;
}

std::uint32_t PngByteReader::readU32() { return getU32(read(4).data()); }

std::uint32_t ChunkCrc(std::span<const std::uint8_t, 4> type, std::span<const std::uint8_t> data) {
  uLong crc = crc32(0, type.data(), 4);
  // zlib answers a null buffer with the initial value, not the running CRC.
  if (!data.empty()) crc = crc32_z(crc, data.data(), data.size());
  return static_cast<std::uint32_t>(crc);
}

bool InflateBuffer(std::span<const std::uint8_t> input, std::size_t limit, std::vector<std::uint8_t>& output,
                   std::string& message) {
  output.clear();
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  int ret = inflateInit(&zs);
  if (ret != Z_OK) {
    message = std::string(ZlibErrorText(ret));
    return false;
  }
  zs.next_in = input.data();
  zs.avail_in = static_cast<uInt>(std::min<std::size_t>(input.size(), std::numeric_limits<uInt>::max()));
  std::uint8_t block[256];
  bool ok = false;
  for (;;) {
    zs.next_out = block;
    zs.avail_out = sizeof block;
    ret = inflate(&zs, Z_NO_FLUSH);
    std::size_t produced = sizeof block - zs.avail_out;
    if (produced > limit - output.size()) {
      message = "text too long";
      break;
    }
    output.insert(output.end(), block, block + produced);
    if (ret == Z_STREAM_END) {
      ok = true;
      break;
    }
    if (ret != Z_OK) {
      // Z_BUF_ERROR here means the stream stopped short of its end.
      message = zs.msg ? zs.msg : std::string(ZlibErrorText(ret));
      break;
    }
  }
  inflateEnd(&zs);
  if (!ok) output.clear();
  return ok;
}

bool DeflateBuffer(std::span<const std::uint8_t> input, int level, std::vector<std::uint8_t>& output,
                   std::string& message) {
  output.clear();
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  int ret = deflateInit(&zs, level);
  if (ret != Z_OK) {
    message = std::string(ZlibErrorText(ret));
    return false;
  }
  zs.next_in = input.data();
  zs.avail_in = static_cast<uInt>(input.size());
  std::uint8_t block[256];
  do {
    zs.next_out = block;
    zs.avail_out = sizeof block;
    ret = deflate(&zs, Z_FINISH);
    if (ret < 0 && ret != Z_BUF_ERROR) {
      message = zs.msg ? zs.msg : std::string(ZlibErrorText(ret));
      deflateEnd(&zs);
      output.clear();
      return false;
    }
    output.insert(output.end(), block, block + (sizeof block - zs.avail_out));
  } while (ret != Z_STREAM_END);
  deflateEnd(&zs);
  return true;
}

std::uint32_t RowByteCount(std::uint32_t pixels, std::uint8_t colorType, std::uint8_t bitDepth) {
  std::uint64_t b = std::uint64_t(pixels) * bitDepth;
  switch (colorType) {
    case 0:
    case 3:
      return static_cast<std::uint32_t>((b + 7) / 8);
    case 2:
      return static_cast<std::uint32_t>(b * 3 / 8);
    case 4:
      return static_cast<std::uint32_t>(b * 2 / 8);
    case 6:
      return static_cast<std::uint32_t>(b * 4 / 8);
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// ZeroedBytes

void ZeroedBytes::Free::operator()(std::uint8_t* p) const { std::free(p); }

ZeroedBytes::ZeroedBytes(std::size_t size) : size_(size) {
  if (size == 0) return;
  data_.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
  if (!data_) Raise<EPNGOutMemory>(pngtext::kOutMemory);
}

// ---------------------------------------------------------------------------
// TChunk

TChunk::TChunk(TPngPicture& owner) : FOwnerImage(owner) {}

void TChunk::Assign(const TChunk& source) {
  FTypeCode = source.FTypeCode;
  FBytes = source.FBytes;
}

bool TChunk::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  auto data = stream.read(size);
  FBytes.assign(data.begin(), data.end());
  std::uint32_t stored = stream.readU32();
  if (stored != ChunkCrc(type, FBytes)) Raise<EPngInvalidCRC>(pngtext::kInvalidCrc);
  return true;
}

bool TChunk::SaveToStream(PngByteWriter& stream) { return WriteChunk(stream); }

bool TChunk::WriteChunk(PngByteWriter& stream) {
  writeChunk(stream, FTypeCode, FBytes);
  return true;
}

int TChunk::IndexInImage() const { return FOwnerImage.Chunks().IndexOf(this); }

TChunkIHDR& TChunk::ImageHeader() const { return FOwnerImage.HeaderChunk(); }

TChunkIEND::TChunkIEND(TPngPicture& owner) : TChunk(owner) { FTypeCode = kIEND; }

// ---------------------------------------------------------------------------
// TChunkIHDR

TChunkIHDR::TChunkIHDR(TPngPicture& owner) : TChunk(owner) { FTypeCode = kIHDR; }

unsigned TChunkIHDR::StoreBitsPerPixel(std::uint8_t colorType, std::uint8_t bitDepth) {
  switch (colorType) {
    case 0:
      switch (bitDepth) {
        case 1: return 1;
        case 2: return 4;
        case 4: return 4;
        case 8: return 8;
        case 16: return 8;
      }
      return 0;
    case 3:
      switch (bitDepth) {
        case 1: return 1;
        case 2: return 4;
        case 4: return 4;
        case 8: return 8;
      }
      return 0;
    case 4:
      return bitDepth == 8 || bitDepth == 16 ? 8 : 0;
    case 2:
    case 6:
      return bitDepth == 8 || bitDepth == 16 ? 24 : 0;
    default:
      return 0;
  }
}

void TChunkIHDR::SetDibFormat(std::uint16_t bitsPerPixel, bool indexed) {
  FIndexed = indexed;
  FDibInfo = TDibInfo{};
  FDibInfo.biSize = 40;
  FDibInfo.biWidth = static_cast<std::int32_t>(FHeaderFields.Width);
  FDibInfo.biHeight = static_cast<std::int32_t>(FHeaderFields.Height);
  FDibInfo.biPlanes = 1;
  FDibInfo.biBitCount = bitsPerPixel;
  FDibInfo.biCompression = 0;
}

void TChunkIHDR::ReleasePixelStore() {
  FPixels = ZeroedBytes();
  FAlphaPlane = ZeroedBytes();
  FKeyMask = ZeroedBytes();
  FHasPixelStore = false;
}

void TChunkIHDR::PreparePixelStore() {
  FDibInfo = TDibInfo{};
  ReleasePixelStore();
  FRowStride = 0;
  const TPngHeaderFields& h = FHeaderFields;
  unsigned bits = StoreBitsPerPixel(h.ColorType, h.BitDepth);
  if (bits == 0) return;
  SetDibFormat(static_cast<std::uint16_t>(bits), h.ColorType == 0 || h.ColorType == 3 || h.ColorType == 4);
  // Width and height are at most 65535, so these products fit in 64 bits.
  std::uint64_t stride = (std::uint64_t(bits) * h.Width + 31) / 32 * 4;
  std::uint64_t plane = std::uint64_t(h.Width) * h.Height;
  bool alpha = h.ColorType == 4 || h.ColorType == 6;
  std::uint64_t total = stride * h.Height + (alpha ? plane : 0);
  if (total > FOwnerImage.PixelStoreLimit() || total > std::numeric_limits<std::size_t>::max())
    Raise<EPNGOutMemory>(pngtext::kOutMemory);
  FRowStride = static_cast<std::uint32_t>(stride);
  FPixels = ZeroedBytes(static_cast<std::size_t>(stride * h.Height));
  if (alpha) FAlphaPlane = ZeroedBytes(static_cast<std::size_t>(plane));
  FHasPixelStore = true;
}

void TChunkIHDR::PrepareKeyMask() {
  std::uint64_t plane = std::uint64_t(FHeaderFields.Width) * FHeaderFields.Height;
  if (FPixels.size() + FAlphaPlane.size() + plane > FOwnerImage.PixelStoreLimit())
    Raise<EPNGOutMemory>(pngtext::kOutMemory);
  FKeyMask = ZeroedBytes(static_cast<std::size_t>(plane));
}

bool TChunkIHDR::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunk::LoadFromStream(stream, type, size);
  if (FBytes.size() < 13) Raise<EPngInvalidIHDR>(pngtext::kInvalidIhdr);
  const std::uint8_t* b = FBytes.data();
  FHeaderFields.Width = getU32(b);
  FHeaderFields.Height = getU32(b + 4);
  FHeaderFields.BitDepth = b[8];
  FHeaderFields.ColorType = b[9];
  FHeaderFields.CompressionMethod = b[10];
  FHeaderFields.FilterMethod = b[11];
  FHeaderFields.InterlaceMethod = b[12];
  if (FHeaderFields.Width > 65535 || FHeaderFields.Height > 65535)
    Raise<EPNGSizeExceeds>(pngtext::kSizeExceeds);
  if (FHeaderFields.CompressionMethod != 0) Raise<EPNGUnknownCompression>(pngtext::kUnknownCompression);
  if (FHeaderFields.InterlaceMethod > 1) Raise<EPNGUnknownInterlace>(pngtext::kUnknownInterlace);
  // A pair of colour type and bit depth that PNG does not define has no row
  // converter: refuse it here rather than decode it into nothing.
  if (StoreBitsPerPixel(FHeaderFields.ColorType, FHeaderFields.BitDepth) == 0)
    Raise<EPngInvalidIHDR>(pngtext::kInvalidIhdr);
  FOwnerImage.SetInterlacing(FHeaderFields.InterlaceMethod);
  // Only the image's header holds pixels; a stray second header would
  // otherwise claim a second store.
  if (IndexInImage() == 0) PreparePixelStore();
  return true;
}

bool TChunkIHDR::SaveToStream(PngByteWriter& stream) {
  if (FHeaderFields.BitDepth == 2) {
    // The store holds 2-bit samples as 4-bit ones, so the image is written
    // with 4 bits from now on. A grey key is scaled with its pixels.
    FHeaderFields.BitDepth = 4;
    if (FHeaderFields.ColorType == 0 && IndexInImage() == 0) {
      if (TChunktRNS* trns = FOwnerImage.Chunks().FirstOfClass<TChunktRNS>(); trns && trns->ByteCount() >= 2) {
        auto& t = trns->AlphaTable();
        unsigned v = unsigned(t[0]) << 8 | t[1];
        if (v <= 3) {
          t[0] = 0;
          t[1] = std::uint8_t(v * 5);
        }
      }
    }
  }
  FBytes.assign(13, 0);
  std::uint8_t* b = FBytes.data();
  const TPngHeaderFields& h = FHeaderFields;
  for (int i = 0; i < 4; ++i) {
    b[i] = std::uint8_t(h.Width >> (24 - 8 * i));
    b[4 + i] = std::uint8_t(h.Height >> (24 - 8 * i));
  }
  b[8] = h.BitDepth;
  b[9] = h.ColorType;
  b[10] = h.CompressionMethod;
  b[11] = h.FilterMethod;
  b[12] = FOwnerImage.Interlacing();
  return WriteChunk(stream);
}

void TChunkIHDR::Assign(const TChunk& source) {
  const auto* src = dynamic_cast<const TChunkIHDR*>(&source);
  if (!src) Raise<EPngError>(pngtext::kNotCompatible);
  FHeaderFields = src->FHeaderFields;
  PreparePixelStore();
  if (!FHasPixelStore || !src->FHasPixelStore) return;
  std::copy(src->PixelBytes().begin(), src->PixelBytes().end(), FPixels.data());
  if (!FAlphaPlane.empty()) std::copy(src->AlphaBytes().begin(), src->AlphaBytes().end(), FAlphaPlane.data());
  if (!src->FKeyMask.empty()) {
    PrepareKeyMask();
    std::copy(src->KeyMaskBytes().begin(), src->KeyMaskBytes().end(), FKeyMask.data());
  }
  FDibInfo.bmiColors = src->FDibInfo.bmiColors;
}

// ---------------------------------------------------------------------------
// TChunkIDAT

TChunkIDAT::TChunkIDAT(TPngPicture& owner) : TChunk(owner) { FTypeCode = kIDAT; }

bool TChunkIDAT::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  ImageDataDecoder decoder(FOwnerImage, ImageHeader(), stream);
  decoder.Run(type, size);
  return true;
}

bool TChunkIDAT::SaveToStream(PngByteWriter& stream) {
  ImageDataEncoder encoder(FOwnerImage, ImageHeader(), stream);
  encoder.Run();
  return true;
}

// ---------------------------------------------------------------------------
// TChunkPLTE

TChunkPLTE::TChunkPLTE(TPngPicture& owner) : TChunk(owner) { FTypeCode = typeOf("PLTE"); }

void TChunkPLTE::Assign(const TChunk& source) {
  const auto* src = dynamic_cast<const TChunkPLTE*>(&source);
  if (!src) Raise<EPngError>(pngtext::kNotCompatible);
  FEntryCount = src->FEntryCount;
}

bool TChunkPLTE::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunk::LoadFromStream(stream, type, size);
  if (size % 3 != 0 || size > 768) Raise<EPNGInvalidPalette>(pngtext::kInvalidPalette);
  FEntryCount = size / 3;
  const TGammaTable& g = FOwnerImage.DecodeGamma();
  auto& table = ImageHeader().ColorTable();
  for (std::uint32_t i = 0; i < FEntryCount; ++i) {
    const std::uint8_t* rgb = FBytes.data() + 3 * i;
    table[i] = TRgbQuad{g[rgb[2]], g[rgb[1]], g[rgb[0]], 0};
  }
  return true;
}

bool TChunkPLTE::SaveToStream(PngByteWriter& stream) {
  const TGammaTable& e = FOwnerImage.EncodeGamma();
  const auto& table = ImageHeader().ColorTable();
  FBytes.resize(std::size_t(FEntryCount) * 3);
  for (std::uint32_t i = 0; i < FEntryCount; ++i) {
    FBytes[3 * i] = e[table[i].rgbRed];
    FBytes[3 * i + 1] = e[table[i].rgbGreen];
    FBytes[3 * i + 2] = e[table[i].rgbBlue];
  }
  return WriteChunk(stream);
}

std::uint32_t TChunkPLTE::GetEntry(unsigned index) const {
  if (index >= FEntryCount || index > 255) Raise<EPngError>(pngtext::kNoSuchPaletteEntry);
  const TRgbQuad& c = ImageHeader().ColorTable()[index];
  return std::uint32_t(c.rgbBlue) | std::uint32_t(c.rgbGreen) << 8 | std::uint32_t(c.rgbRed) << 16;
}

// ---------------------------------------------------------------------------
// TChunkgAMA

TChunkgAMA::TChunkgAMA(TPngPicture& owner) : TChunk(owner) {
  FTypeCode = typeOf("gAMA");
  SetGammaValue(1);
}

void TChunkgAMA::Assign(const TChunk& source) {
  auto* src = dynamic_cast<const TChunkgAMA*>(&source);
  if (!src) Raise<EPngError>(pngtext::kNotCompatible);
  FBytes = src->FBytes;
  if (FBytes.size() != 4) SetGammaValue(1);
}

std::uint32_t TChunkgAMA::GetGammaValue() {
  if (FBytes.size() != 4) {
    FBytes.assign(4, 0);
    return 1;
  }
  return getU32(FBytes.data());
}

void TChunkgAMA::SetGammaValue(std::uint32_t value) {
  FBytes.resize(4);
  for (int i = 0; i < 4; ++i) FBytes[i] = std::uint8_t(value >> (24 - 8 * i));
}

namespace {

// ln(i / 255) for i = 1..255, made once: a gAMA chunk is read with most files,
// and 256 extended-precision powers would cost more than decoding a small one.
const std::array<double, 256>& logTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 1; i < 256; ++i) t[i] = std::log(i / 255.0);
    return t;
  }();
  return table;
}

// Round(Power(i / 255, e) × 255), halves to even, as extended precision gives
// it: the double result is used unless it lies too near a half to be sure.
std::uint8_t gammaEntry(int i, long double e) {
  if (i == 0) return e == 0 ? 255 : 0;
  double x = std::exp(static_cast<double>(e) * logTable()[i]) * 255.0;
  double fraction = x - std::floor(x);
  if (std::abs(fraction - 0.5) > 1e-6) return roundGamma(x);
  long double base = i / 255.0L;
  return roundGamma(std::exp(e * std::log(base)) * 255.0L);
}

}  // namespace

void TChunkgAMA::ApplyToImage() const {
  if (FBytes.size() != 4) return;
  std::uint32_t v = getU32(FBytes.data());
  if (v == 0) return;
  long double e = 1.0L / ((static_cast<long double>(v) / 100000.0L) * 2.2L);
  TGammaTable& decode = FOwnerImage.DecodeGamma();
  TGammaTable& encode = FOwnerImage.EncodeGamma();
  for (int i = 0; i < 256; ++i) {
    std::uint8_t value = gammaEntry(i, e);
    decode[i] = value;
    encode[value] = static_cast<std::uint8_t>(i);
  }
}

bool TChunkgAMA::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunk::LoadFromStream(stream, type, size);
  ApplyToImage();
  return true;
}

bool TChunkgAMA::SaveToStream(PngByteWriter& stream) {
  // Saving sets the tables as loading the written file will, so the chunks
  // after this one are encoded with the curve they will be decoded with.
  WriteChunk(stream);
  ApplyToImage();
  return true;
}

// ---------------------------------------------------------------------------
// TChunktRNS

TChunktRNS::TChunktRNS(TPngPicture& owner) : TChunk(owner) { FTypeCode = typeOf("tRNS"); }

void TChunktRNS::Assign(const TChunk& source) {
  if (const auto* src = dynamic_cast<const TChunktRNS*>(&source)) {
    FAlphaTable = src->FAlphaTable;
    FKeyColorOnly = src->FKeyColorOnly;
  }
  TChunk::Assign(source);
}

bool TChunktRNS::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunk::LoadFromStream(stream, type, size);
  if (size > 256) Raise<EPNGInvalidPalette>(pngtext::kInvalidPalette);
  FAlphaTable.fill(255);
  std::copy(FBytes.begin(), FBytes.end(), FAlphaTable.begin());
  switch (ImageHeader().HeaderFields().ColorType) {
    case 0:
    case 2:
      FKeyColorOnly = true;
      break;
    case 3:
      FKeyColorOnly = std::any_of(FBytes.begin(), FBytes.end(), [](std::uint8_t a) { return a != 255; });
      break;
    default:
      break;
  }
  return true;
}

bool TChunktRNS::SaveToStream(PngByteWriter& stream) {
  if (FBytes.size() <= 256) std::copy_n(FAlphaTable.begin(), FBytes.size(), FBytes.begin());
  return WriteChunk(stream);
}

void TChunktRNS::SetKeyColor(std::uint32_t color) {
  FAlphaTable.fill(0);
  FKeyColorOnly = true;
  std::uint8_t red = std::uint8_t(color), green = std::uint8_t(color >> 8), blue = std::uint8_t(color >> 16);
  switch (ImageHeader().HeaderFields().ColorType) {
    case 0:
      SetByteCount(2);
      FAlphaTable[1] = red;
      break;
    case 2:
      SetByteCount(6);
      FAlphaTable[1] = red;
      FAlphaTable[3] = green;
      FAlphaTable[5] = blue;
      break;
    case 3: {
      const auto& table = ImageHeader().ColorTable();
      unsigned i = 0;
      for (unsigned j = 0; j < 256; ++j) {
        if (table[j].rgbBlue == blue && table[j].rgbGreen == green && table[j].rgbRed == red) {
          i = j;
          break;
        }
      }
      std::fill_n(FAlphaTable.begin(), i, 255);
      SetByteCount(i + 1);
      break;
    }
    default:
      break;
  }
}

std::uint32_t TChunktRNS::GetKeyColor() const {
  switch (ImageHeader().HeaderFields().ColorType) {
    case 0: {
      std::uint32_t v = FAlphaTable[1];
      return v | v << 8 | v << 16;
    }
    case 2:
      return std::uint32_t(FAlphaTable[1]) | std::uint32_t(FAlphaTable[3]) << 8 | std::uint32_t(FAlphaTable[5]) << 16;
    case 3: {
      const auto* plte = FOwnerImage.Chunks().FirstOfClass<TChunkPLTE>();
      for (std::size_t i = 0; i < FBytes.size() && i < 256; ++i) {
        if (FAlphaTable[i] != 0) continue;
        if (!plte) return 0;
        std::uint32_t bgr = plte->GetEntry(static_cast<unsigned>(i));
        return (bgr >> 16 & 0xFF) | (bgr & 0xFF00) | (bgr & 0xFF) << 16;
      }
      return 0;
    }
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Time and text chunks

TChunktIME::TChunktIME(TPngPicture& owner) : TChunk(owner) { FTypeCode = typeOf("tIME"); }

bool TChunktIME::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunk::LoadFromStream(stream, type, size);
  if (FBytes.size() == 7) {
    FYear = static_cast<std::uint16_t>(FBytes[0] << 8 | FBytes[1]);
    FMonth = FBytes[2];
    FDay = FBytes[3];
    FHour = FBytes[4];
    FMinute = FBytes[5];
    FSecond = FBytes[6];
  }
  return true;
}

bool TChunktIME::SaveToStream(PngByteWriter& stream) {
  FBytes = {std::uint8_t(FYear >> 8), std::uint8_t(FYear), FMonth, FDay, FHour, FMinute, FSecond};
  return WriteChunk(stream);
}

TChunktEXt::TChunktEXt(TPngPicture& owner) : TChunk(owner) { FTypeCode = typeOf("tEXt"); }

void TChunktEXt::Assign(const TChunk& source) {
  if (const auto* src = dynamic_cast<const TChunktEXt*>(&source)) {
    FKeyword = src->FKeyword;
    FTextString = src->FTextString;
  }
  TChunk::Assign(source);
}

bool TChunktEXt::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunk::LoadFromStream(stream, type, size);
  if (FBytes.size() > 2) {
    auto zero = std::find(FBytes.begin(), FBytes.end(), 0);
    FKeyword.assign(FBytes.begin(), zero);
    FTextString.assign(zero == FBytes.end() ? FBytes.end() : zero + 1, FBytes.end());
  }
  return true;
}

bool TChunktEXt::SaveToStream(PngByteWriter& stream) {
  FBytes.assign(FKeyword.begin(), FKeyword.end());
  FBytes.push_back(0);
  FBytes.insert(FBytes.end(), FTextString.begin(), FTextString.end());
  return WriteChunk(stream);
}

TChunkzTXt::TChunkzTXt(TPngPicture& owner) : TChunktEXt(owner) { FTypeCode = typeOf("zTXt"); }

bool TChunkzTXt::LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) {
  TChunktEXt::LoadFromStream(stream, type, size);
  if (FBytes.size() >= 4) {
    auto zero = std::find(FBytes.begin(), FBytes.end(), 0);
    FKeyword.assign(FBytes.begin(), zero);
    FTextString.clear();
    if (zero != FBytes.end() && zero + 1 != FBytes.end() && zero[1] == 0) {
      std::size_t offset = static_cast<std::size_t>(zero - FBytes.begin()) + 2;
      auto compressed = std::span<const std::uint8_t>(FBytes).subspan(offset);
      std::vector<std::uint8_t> text;
      std::string message;
      if (InflateBuffer(compressed, FOwnerImage.PixelStoreLimit(), text, message))
        FTextString.assign(text.begin(), text.end());
    }
  }
  return true;
}

bool TChunkzTXt::SaveToStream(PngByteWriter& stream) {
  if (FTextString.empty()) FTextString = " ";
  std::vector<std::uint8_t> compressed;
  std::string message;
  auto text = std::span(reinterpret_cast<const std::uint8_t*>(FTextString.data()), FTextString.size());
  if (!DeflateBuffer(text, FOwnerImage.DeflateLevel(), compressed, message)) return false;
  FBytes.assign(FKeyword.begin(), FKeyword.end());
  FBytes.push_back(0);
  FBytes.push_back(0);
  FBytes.insert(FBytes.end(), compressed.begin(), compressed.end());
  return WriteChunk(stream);
}

// ---------------------------------------------------------------------------
// Registry and list

void RegisterChunkClass(std::string_view type, TChunkFactory factory) {
  if (type.size() != 4 || !factory) return;
  ChunkRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  r.classes.push_back({typeOf(type), factory});
}

std::unique_ptr<TChunk> CreateChunkForType(TPngPicture& image, const TChunkType& type) {
  TChunkFactory factory = nullptr;
  {
    ChunkRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const ChunkClass& c : r.classes) {
      if (c.type == type) {
        factory = c.factory;
        break;
      }
    }
  }
  std::unique_ptr<TChunk> chunk = factory ? factory(image) : std::make_unique<TChunk>(image);
  chunk->SetTypeCode(type);
  return chunk;
}

TChunk& TPNGList::Append(std::unique_ptr<TChunk> chunk) {
  FEntries.push_back(std::move(chunk));
  return *FEntries.back();
}

TChunk& TPNGList::InsertAt(std::unique_ptr<TChunk> chunk, std::size_t position) {
  position = std::min(position, FEntries.size());
  auto it = FEntries.insert(FEntries.begin() + static_cast<std::ptrdiff_t>(position), std::move(chunk));
  return **it;
}

std::unique_ptr<TChunk> TPNGList::Extract(const TChunk* chunk) {
  for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it) {
    if (it->get() == chunk) {
      std::unique_ptr<TChunk> out = std::move(*it);
      FEntries.erase(std::next(it).base());
      return out;
    }
  }
  return nullptr;
}

int TPNGList::IndexOf(const TChunk* chunk) const {
  for (std::size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i].get() == chunk) return static_cast<int>(i);
  return -1;
}

TChunk& TPNGList::AddChunk(std::string_view type, TChunkFactory factory) {
  if (type == TChunkIHDR::ClassTypeName() || type == TChunkIDAT::ClassTypeName() ||
      type == TChunkPLTE::ClassTypeName() || type == TChunkIEND::ClassTypeName())
    Raise<EPngError>(pngtext::kExistentCritical);
  if ((type == TChunkgAMA::ClassTypeName() && FirstOfClass<TChunkgAMA>()) ||
      (type == TChunktRNS::ClassTypeName() && FirstOfClass<TChunktRNS>()))
    Raise<EPngError>(pngtext::kExistentCritical);
  int iend = IndexOf(FirstOfClass<TChunkIEND>());
  int ihdr = IndexOf(FirstOfClass<TChunkIHDR>());
  if (iend < 0 || ihdr < 0) Raise<EPngError>(pngtext::kInvalidImageForAdd);
  std::size_t position = static_cast<std::size_t>(iend);
  if (type == TChunkgAMA::ClassTypeName()) {
    position = static_cast<std::size_t>(ihdr) + 1;
  } else if (type == TChunktRNS::ClassTypeName()) {
    int plte = IndexOf(FirstOfClass<TChunkPLTE>());
    int idat = IndexOf(FirstOfClass<TChunkIDAT>());
    position = static_cast<std::size_t>(plte >= 0 ? plte + 1 : idat >= 0 ? idat : ihdr + 1);
  }
  return InsertAt(factory(FOwnerImage), position);
}

// ---------------------------------------------------------------------------
// TPngPicture

TPngPicture::TPngPicture() : FChunkList(*this) { ResetGammaTables(); }

TPngPicture::~TPngPicture() { ResetChunks(); }

void TPngPicture::ResetGammaTables() {
  for (int i = 0; i < 256; ++i) {
    FDecodeGamma[i] = static_cast<std::uint8_t>(i);
    FEncodeGamma[i] = static_cast<std::uint8_t>(i);
  }
}

void TPngPicture::ResetChunks() {
  ResetGammaTables();
  FChunkList.Clear();
}

bool TPngPicture::HasHeader() const {
  return FChunkList.Count() > 0 && dynamic_cast<TChunkIHDR*>(FChunkList.ChunkAt(0)) != nullptr;
}

TChunkIHDR& TPngPicture::HeaderChunk() const {
  if (!HasHeader()) Raise<EPNGHeaderNotPresent>(pngtext::kHeaderNotPresent);
  return static_cast<TChunkIHDR&>(*FChunkList.ChunkAt(0));
}

std::uint32_t TPngPicture::GetWidth() const { return HasHeader() ? HeaderChunk().Width() : 0; }
std::uint32_t TPngPicture::GetHeight() const { return HasHeader() ? HeaderChunk().Height() : 0; }

void TPngPicture::SetWidth(std::uint32_t) { Raise<EPngError>(pngtext::kCannotResize); }
void TPngPicture::SetHeight(std::uint32_t) { Raise<EPngError>(pngtext::kCannotResize); }

void TPngPicture::GetRowLayout(std::uint32_t& rowBytes, std::uint32_t& pixelOffset) const {
  rowBytes = 0;
  pixelOffset = 0;
  if (!HasHeader()) return;
  const TPngHeaderFields& h = HeaderChunk().HeaderFields();
  rowBytes = RowByteCount(h.Width, h.ColorType, h.BitDepth);
  switch (h.ColorType) {
    case 0: pixelOffset = h.BitDepth == 16 ? 2 : 1; break;
    case 3: pixelOffset = 1; break;
    case 2: pixelOffset = h.BitDepth * 3u / 8; break;
    case 4: pixelOffset = h.BitDepth / 4u; break;
    case 6: pixelOffset = h.BitDepth / 2u; break;
    default: pixelOffset = 0; break;
  }
}

void TPngPicture::LoadFromBytes(std::span<const std::uint8_t> bytes) {
  ResetChunks();
  PngByteReader in(bytes);
  if (in.left() < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(), bytes.begin()))
    Raise<EPNGInvalidFileHeader>(pngtext::kInvalidFileHeader);
  in.skip(kSignature.size());
  bool imageDataSeen = false;
  for (;;) {
    ChunkStart start = readChunkStart(in);
    if (FChunkList.Count() == 0 && start.type != kIHDR)
      Raise<EPNGIHDRNotFirst>(pngtext::kIhdrNotFirst);
    checkChunkFits(in, start.length);
    // The first IDAT chunk's loader reads every IDAT chunk that follows it;
    // cHRM chunks are dropped unread.
    if ((imageDataSeen && start.type == kIDAT) || start.type == kCHRM) {
      in.skip(std::size_t(start.length) + 4);
      continue;
    }
    if (start.type == kIDAT) imageDataSeen = true;
    TChunk& chunk = FChunkList.Append(CreateChunkForType(*this, start.type));
    if (typeid(chunk) == typeid(TChunk) && isCritical(start.type) && start.type[0] != 0)
      Raise<EPNGUnknownCriticalChunk>(pngtext::kUnknownCriticalChunk);
    if (!chunk.LoadFromStream(in, start.type, start.length)) break;
    if (start.type == kIEND) break;
  }
  if (!imageDataSeen) Raise<EPNGNoImageData>(pngtext::kNoImageData);
}

void TPngPicture::LoadFromStream(std::istream& stream) {
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  LoadFromBytes(bytes);
}

void TPngPicture::SaveToStream(PngByteWriter& stream) {
  // A gAMA chunk sets the tables as it is written, as it did when read; the
  // chunks before it are written with the identity curve they were read with.
  TGammaTable decode = FDecodeGamma, encode = FEncodeGamma;
  ResetGammaTables();
  try {
    stream.insert(stream.end(), kSignature.begin(), kSignature.end());
    for (std::size_t i = 0; i < FChunkList.Count(); ++i) FChunkList.ChunkAt(i)->SaveToStream(stream);
  } catch (...) {
    FDecodeGamma = decode;
    FEncodeGamma = encode;
    throw;
  }
  FDecodeGamma = decode;
  FEncodeGamma = encode;
}

void TPngPicture::SaveToStream(std::ostream& stream) {
  PngByteWriter bytes = SaveToBytes();
  stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

PngByteWriter TPngPicture::SaveToBytes() {
  PngByteWriter bytes;
  SaveToStream(bytes);
  return bytes;
}

// ---------------------------------------------------------------------------
// Alpha planes and widened grey stores

void TChunkIHDR::PrepareAlphaPlane() {
  std::uint64_t plane = std::uint64_t(FHeaderFields.Width) * FHeaderFields.Height;
  if (FPixels.size() + FKeyMask.size() + plane > FOwnerImage.PixelStoreLimit())
    Raise<EPNGOutMemory>(pngtext::kOutMemory);
  FAlphaPlane = ZeroedBytes(static_cast<std::size_t>(plane));
  if (plane) std::memset(FAlphaPlane.data(), 255, FAlphaPlane.size());
}

void TChunkIHDR::WidenGreyStore() {
  const unsigned bits = FDibInfo.biBitCount;
  if (FHeaderFields.ColorType != 0 || !FHasPixelStore || bits >= 8) return;
  const std::uint32_t w = FHeaderFields.Width, h = FHeaderFields.Height;
  const std::uint64_t stride = (std::uint64_t(w) + 3) / 4 * 4;
  if (stride * h + FAlphaPlane.size() + FKeyMask.size() > FOwnerImage.PixelStoreLimit())
    Raise<EPNGOutMemory>(pngtext::kOutMemory);
  ZeroedBytes wide(static_cast<std::size_t>(stride * h));
  // 1-bit samples are 0 or 1; 2-bit ones are held as 4-bit samples already
  // scaled to the 0..15 ramp.
  const unsigned scale = bits == 1 ? 255 : 17;
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* src = PixelRow(y);
    std::uint8_t* dst = wide.data() + std::size_t(stride) * (h - 1 - y);
    for (std::uint32_t x = 0; x < w; ++x) dst[x] = std::uint8_t(getSample(src, x, bits) * scale);
  }
  FPixels = std::move(wide);
  FRowStride = static_cast<std::uint32_t>(stride);
  FHeaderFields.BitDepth = 8;
  SetDibFormat(8, true);
  const TGammaTable& g = FOwnerImage.DecodeGamma();
  for (unsigned i = 0; i < 256; ++i) FDibInfo.bmiColors[i] = TRgbQuad{g[i], g[i], g[i], 0};
}

// ---------------------------------------------------------------------------
// Transparency, pixels and palettes

namespace {

std::uint32_t bgrOf(const TRgbQuad& c) {
  return std::uint32_t(c.rgbRed) | std::uint32_t(c.rgbGreen) << 8 | std::uint32_t(c.rgbBlue) << 16;
}

// Bits per stored sample of an indexed store (1, 4 or 8).
unsigned indexBits(const TChunkIHDR& h) { return h.DibInfo().biBitCount; }

// The palette entry that a palette tRNS keys: the one entry whose alpha is
// not 255, when that alpha is 0. -1 when the chunk gives alpha otherwise.
int keyedPaletteEntry(const TChunktRNS& trns) {
  int keyed = -1;
  const std::size_t n = std::min<std::size_t>(trns.ByteCount(), 256);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t a = trns.AlphaTable()[i];
    if (a == 255) continue;
    if (a != 0 || keyed >= 0) return -1;
    keyed = static_cast<int>(i);
  }
  return keyed;
}

unsigned nearestEntry(const std::array<TRgbQuad, 256>& table, unsigned count, std::uint32_t color) {
  const int r = int(color & 0xFF), g = int(color >> 8 & 0xFF), b = int(color >> 16 & 0xFF);
  unsigned best = 0;
  long bestDistance = std::numeric_limits<long>::max();
  for (unsigned i = 0; i < count; ++i) {
    const TRgbQuad& c = table[i];
    long dr = r - c.rgbRed, dg = g - c.rgbGreen, db = b - c.rgbBlue;
    long d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

}  // namespace

TPngTransparencyKind TPngPicture::TransparencyKind() const {
  const TChunkIHDR& h = HeaderChunk();
  const TChunktRNS* trns = FChunkList.FirstOfClass<TChunktRNS>();
  switch (h.HeaderFields().ColorType) {
    case 0:
    case 2:
      return trns ? tkColorKey : tkNone;
    case 3:
      if (!trns) return tkNone;
      // Only a tRNS that makes one entry fully transparent is a key; any
      // other alpha (a half-transparent entry, several entries) is blended.
      return trns->KeyColorOnly() && keyedPaletteEntry(*trns) >= 0 ? tkColorKey : tkAlpha;
    case 4:
    case 6:
      return tkAlpha;
    default:
      return tkNone;
  }
}

std::uint32_t TPngPicture::KeyColor() const {
  const TChunktRNS* trns = FChunkList.FirstOfClass<TChunktRNS>();
  if (!trns || !HasHeader()) return 0;
  try {
    return trns->GetKeyColor();
  } catch (const EPngError&) {
    return 0;  // a keyed entry past the palette
  }
}

std::uint8_t* TPngPicture::AlphaRow(std::uint32_t row) {
  TChunkIHDR& h = HeaderChunk();
  std::uint8_t t = h.HeaderFields().ColorType;
  if ((t != 4 && t != 6) || !h.AlphaPlane()) return nullptr;
  return h.AlphaPlane() + std::size_t(row) * h.Width();
}

void TPngPicture::AddAlphaPlane() {
  TChunkIHDR& h = HeaderChunk();
  TPngHeaderFields& f = h.HeaderFields();
  switch (f.ColorType) {
    case 0:
    case 2: {
      if (!h.HasPixelStore()) return;
      TChunktRNS* trns = FChunkList.FirstOfClass<TChunktRNS>();
      // The key decides which pixels become transparent: the decoder's key
      // mask, or, for an image built in memory, the stored colour.
      std::vector<std::uint8_t> keyed;
      if (trns) {
        const std::uint32_t key = KeyColor();
        keyed.assign(std::size_t(f.Width) * f.Height, 0);
        auto mask = h.KeyMaskBytes();
        for (std::uint32_t y = 0; y < f.Height; ++y)
          for (std::uint32_t x = 0; x < f.Width; ++x) {
            std::size_t at = std::size_t(y) * f.Width + x;
            keyed[at] = mask.empty() ? GetPixel(x, y) == key : mask[at] != 0;
          }
      }
      if (f.ColorType == 0) h.WidenGreyStore();
      h.PrepareAlphaPlane();
      f.ColorType = f.ColorType == 0 ? 4 : 6;
      for (std::size_t i = 0; i < keyed.size(); ++i)
        if (keyed[i]) h.AlphaPlane()[i] = 0;
      if (trns) FChunkList.Extract(trns);
      break;
    }
    case 3: {
      TChunktRNS* trns = FChunkList.FirstOfClass<TChunktRNS>();
      if (!trns) trns = &FChunkList.AddChunkOfClass<TChunktRNS>();
      // One alpha per index the depth allows, but never more than the
      // palette has entries: a longer tRNS makes the file invalid. Entries
      // that were transparent already stay so.
      std::uint32_t count = 1u << std::min<unsigned>(f.BitDepth, 8);
      if (const auto* plte = FChunkList.FirstOfClass<TChunkPLTE>(); plte && plte->EntryCount() > 0)
        count = std::min(count, plte->EntryCount());
      auto& table = trns->AlphaTable();
      std::fill(table.begin() + std::min<std::size_t>(trns->ByteCount(), 256), table.end(), std::uint8_t(255));
      trns->SetByteCount(count);
      std::copy_n(table.begin(), count, trns->Bytes().begin());
      trns->SetKeyColorOnly(false);
      break;
    }
    default:
      break;
  }
}

std::uint32_t TPngPicture::GetPixel(std::int64_t x, std::int64_t y) const {
  const TChunkIHDR& h = HeaderChunk();
  if (x < 0 || y < 0 || x >= std::int64_t(h.Width()) || y >= std::int64_t(h.Height()) || !h.HasPixelStore())
    return 0;
  const std::uint8_t* row =
      h.PixelBytes().data() + std::size_t(h.RowStride()) * (h.Height() - 1 - std::size_t(y));
  switch (h.HeaderFields().ColorType) {
    case 0:
    case 3: {
      // The table holds what decoding made of each entry, gamma included.
      unsigned v = getSample(row, std::size_t(x), indexBits(h));
      return bgrOf(h.ColorTable()[v]);
    }
    case 4:
      return std::uint32_t(row[x]) * 0x010101u;
    default: {
      const std::uint8_t* p = row + 3 * std::size_t(x);
      return std::uint32_t(p[2]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]) << 16;
    }
  }
}

void TPngPicture::SetPixel(std::int64_t x, std::int64_t y, std::uint32_t color) {
  TChunkIHDR& h = HeaderChunk();
  if (x < 0 || y < 0 || x >= std::int64_t(h.Width()) || y >= std::int64_t(h.Height()) || !h.HasPixelStore())
    return;
  std::uint8_t* row = h.PixelRow(static_cast<std::uint32_t>(y));
  switch (h.HeaderFields().ColorType) {
    case 0:
    case 3: {
      const unsigned bits = indexBits(h);
      unsigned count = 1u << bits;
      if (h.HeaderFields().ColorType == 3)
        if (const auto* plte = FChunkList.FirstOfClass<TChunkPLTE>(); plte && plte->EntryCount() > 0)
          count = std::min(count, plte->EntryCount());
      unsigned index = nearestEntry(h.ColorTable(), count, color);
      std::size_t bit = std::size_t(x) * bits;
      unsigned shift = 8 - bits - unsigned(bit & 7);
      unsigned mask = ((1u << bits) - 1) << shift;
      row[bit >> 3] = std::uint8_t((row[bit >> 3] & ~mask) | (index << shift));
      break;
    }
    case 4:
      row[x] = std::uint8_t(color);
      break;
    default: {
      std::uint8_t* p = row + 3 * std::size_t(x);
      p[2] = std::uint8_t(color);
      p[1] = std::uint8_t(color >> 8);
      p[0] = std::uint8_t(color >> 16);
      break;
    }
  }
}

std::vector<std::uint32_t> TPngPicture::GetPalette() const {
  const TChunkIHDR& h = HeaderChunk();
  std::uint8_t t = h.HeaderFields().ColorType;
  if (t != 0 && t != 3) return {};
  std::vector<std::uint32_t> colours(256);
  for (unsigned i = 0; i < 256; ++i) colours[i] = bgrOf(h.ColorTable()[i]);
  return colours;
}

void TPngPicture::SetPalette(std::span<const std::uint32_t> colors) {
  TChunkIHDR& h = HeaderChunk();
  std::uint8_t t = h.HeaderFields().ColorType;
  if (t != 0 && t != 3) return;
  for (std::size_t i = 0; i < colors.size() && i < 256; ++i) {
    std::uint32_t c = colors[i];
    h.ColorTable()[i] = TRgbQuad{std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), 0};
  }
}

void TPngPicture::CopyFromPng(const TPngPicture& source) {
  if (&source == this) return;
  FInterlacing = source.FInterlacing;
  SetIdatLimit(source.FIdatLimit);
  FDeflateLevel = source.FDeflateLevel;
  FAllowedFilters = source.FAllowedFilters;
  FPixelStoreLimit = source.FPixelStoreLimit;
  ResetChunks();
  for (std::size_t i = 0; i < source.FChunkList.Count(); ++i) {
    const TChunk& from = *source.FChunkList.ChunkAt(i);
    TChunk& to = FChunkList.Append(CreateChunkForType(*this, from.TypeCode()));
    to.Assign(from);
  }
}

void TPngPicture::PrepareFromBitmap(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel) {
  if (width > 65535 || height > 65535) Raise<EPNGSizeExceeds>(pngtext::kSizeExceeds);
  ResetChunks();
  const bool palette = bitsPerPixel < 16;
  auto& ihdr = static_cast<TChunkIHDR&>(FChunkList.Append(std::make_unique<TChunkIHDR>(*this)));
  TPNGList& chunks = FChunkList;
  TChunkPLTE* plte = palette ? &static_cast<TChunkPLTE&>(chunks.Append(std::make_unique<TChunkPLTE>(*this))) : nullptr;
  chunks.Append(std::make_unique<TChunkIDAT>(*this));
  chunks.Append(std::make_unique<TChunkIEND>(*this));
  TPngHeaderFields& f = ihdr.HeaderFields();
  f = TPngHeaderFields{};
  f.Width = width;
  f.Height = height;
  f.BitDepth = palette ? std::uint8_t(bitsPerPixel) : 8;
  f.ColorType = palette ? 3 : 2;
  if (TChunkIHDR::StoreBitsPerPixel(f.ColorType, f.BitDepth) == 0) Raise<EPngInvalidIHDR>(pngtext::kInvalidIhdr);
  ihdr.PreparePixelStore();
  if (plte) plte->SetEntryCount(1u << f.BitDepth);
}

TPngDrawSource TPngPicture::DrawSource() const {
  TPngDrawSource out;
  if (!HasHeader() || !HeaderChunk().HasPixelStore()) return out;
  const TChunkIHDR& h = HeaderChunk();
  const std::uint32_t w = h.Width(), ht = h.Height();
  const std::uint8_t type = h.HeaderFields().ColorType;
  out.width = w;
  out.height = ht;
  out.kind = TransparencyKind();
  out.argb.assign(std::size_t(w) * ht, 0);

  const TChunktRNS* trns = FChunkList.FirstOfClass<TChunktRNS>();
  const TChunkPLTE* plte = FChunkList.FirstOfClass<TChunkPLTE>();
  const unsigned paletteCount = type == 3 ? (plte ? plte->EntryCount() : 0) : 256;
  const std::size_t alphaCount = trns ? std::min<std::size_t>(trns->ByteCount(), 256) : 0;
  const int keyedEntry = type == 3 && out.kind == tkColorKey ? keyedPaletteEntry(*trns) : -1;
  const std::uint32_t key = out.kind == tkColorKey && type != 3 ? KeyColor() : 0;
  auto mask = h.KeyMaskBytes();
  auto alphaPlane = h.AlphaBytes();
  const unsigned bits = h.DibInfo().biBitCount;

  for (std::uint32_t y = 0; y < ht; ++y) {
    const std::uint8_t* row = h.PixelBytes().data() + std::size_t(h.RowStride()) * (ht - 1 - y);
    std::uint32_t* o = out.argb.data() + std::size_t(y) * w;
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::size_t at = std::size_t(y) * w + x;
      std::uint32_t r, g, b, a = 255;
      if (type == 0 || type == 3) {
        unsigned v = getSample(row, x, bits);
        if (v < paletteCount) {
          const TRgbQuad& c = h.ColorTable()[v];
          r = c.rgbRed, g = c.rgbGreen, b = c.rgbBlue;
        } else {
          r = g = b = 0;  // an index the palette does not hold
        }
        if (type == 3) {
          if (out.kind == tkAlpha && v < alphaCount) a = trns->AlphaTable()[v];
          if (out.kind == tkColorKey && int(v) == keyedEntry) a = 0;
        } else if (out.kind == tkColorKey) {
          bool keyed = mask.empty() ? (r | g << 8 | b << 16) == key : mask[at] != 0;
          if (keyed) a = 0;
        }
      } else if (type == 4) {
        // Grey with alpha draws its stored grey as it is.
        r = g = b = row[x];
        a = alphaPlane.empty() ? 255 : alphaPlane[at];
      } else {
        const std::uint8_t* p = row + 3 * std::size_t(x);
        b = p[0], g = p[1], r = p[2];
        if (type == 6) {
          a = alphaPlane.empty() ? 255 : alphaPlane[at];
        } else if (out.kind == tkColorKey) {
          bool keyed = mask.empty() ? (r | g << 8 | b << 16) == key : mask[at] != 0;
          if (keyed) a = 0;
        }
      }
      o[x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  return out;
}
