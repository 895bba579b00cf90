#pragma once

// A PNG image held as its list of chunks. The header chunk owns the decoded
// pixels (a bottom-up, 4-byte-aligned bitmap with a 256-entry colour table and
// a separate top-down alpha plane); the image-data chunk decodes into that store
// and encodes it again when the image is saved; chunks of unknown type travel
// through unchanged. No Qt: the codec builds in every configuration.
//
// Input is hostile: every length, CRC and size is checked before use, and the
// pixel store is bounded (SetPixelStoreLimit). Failures are exceptions of the
// classes below with fixed English texts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------
// Exceptions. Each failure of the codec raises one of these with its text.

#define HS_PNG_EXCEPTION(Name)                  \
  class Name : public std::runtime_error {      \
  public:                                       \
    using std::runtime_error::runtime_error;    \
  }
HS_PNG_EXCEPTION(EPNGOutMemory);
HS_PNG_EXCEPTION(EPngError);
HS_PNG_EXCEPTION(EPngUnexpectedEnd);
HS_PNG_EXCEPTION(EPngInvalidCRC);
HS_PNG_EXCEPTION(EPngInvalidIHDR);
HS_PNG_EXCEPTION(EPNGMissingMultipleIDAT);
HS_PNG_EXCEPTION(EPNGZLIBError);
HS_PNG_EXCEPTION(EPNGInvalidPalette);
HS_PNG_EXCEPTION(EPNGInvalidFileHeader);
HS_PNG_EXCEPTION(EPNGIHDRNotFirst);
HS_PNG_EXCEPTION(EPNGSizeExceeds);
HS_PNG_EXCEPTION(EPNGUnknownCriticalChunk);
HS_PNG_EXCEPTION(EPNGUnknownCompression);
HS_PNG_EXCEPTION(EPNGUnknownInterlace);
HS_PNG_EXCEPTION(EPNGNoImageData);
HS_PNG_EXCEPTION(EPNGHeaderNotPresent);
#undef HS_PNG_EXCEPTION

namespace pngtext {
inline constexpr std::string_view kOutMemory =
    "Some operation could not be performed because the system is out of resources. Close some "
    "windows and try again.";
inline constexpr std::string_view kNotCompatible = "The chunks must be compatible to be assigned.";
inline constexpr std::string_view kExistentCritical =
    "The program tried to add a existent critical chunk to the current image which is not "
    "allowed.";
inline constexpr std::string_view kInvalidImageForAdd =
    "It's not allowed to add a new chunk because the current image is invalid.";
inline constexpr std::string_view kNoSuchPaletteEntry = "There is no such palette entry.";
inline constexpr std::string_view kCannotResize =
    "The \"Portable Network Graphics\" image can not be resize by changing width and height "
    "properties. Try assigning the image from a bitmap.";
inline constexpr std::string_view kUnexpectedEnd =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected "
    "end of the file.";
inline constexpr std::string_view kInvalidCrc =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of "
    "data (crc error)";
inline constexpr std::string_view kInvalidIhdr =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of "
    "data (ihdr) might be corrupted";
inline constexpr std::string_view kMissingMultipleIdat =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
inline constexpr std::string_view kZlibError =
    "Could not decompress the image because it contains invalid compressed data.\r\n"
    " Description: ";
inline constexpr std::string_view kInvalidPalette =
    "The \"Portable Network Graphics\" image contains an invalid palette.";
inline constexpr std::string_view kInvalidFileHeader =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it "
    "contains an invalid header. This file may be corruped, try obtaining it again.";
inline constexpr std::string_view kIhdrNotFirst =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n"
    "(IHDR chunk is not the first)";
inline constexpr std::string_view kSizeExceeds =
    "This \"Portable Network Graphics\" image is not supported because either it's width or "
    "height exceeds the maximum size, which is 65535 pixels length.";
inline constexpr std::string_view kUnknownCriticalChunk =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not "
    "be decoded.";
inline constexpr std::string_view kUnknownCompression =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which "
    "could not be decoded.";
inline constexpr std::string_view kUnknownInterlace =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
    "decoded.";
inline constexpr std::string_view kNoImageData =
    "This \"Portable Network Graphics\" image contains no data.";
inline constexpr std::string_view kHeaderNotPresent =
    "This operation is not valid because the current image contains no valid header.";
}  // namespace pngtext

// zlib's text for one of its return codes (-6 to 2), as the zlib error
// message ends with it: "data error (-3)". Empty for other codes.
std::string_view ZlibErrorText(int code);

// ---------------------------------------------------------------------------
// Bytes in and out. Numbers in PNG files are big-endian.

// A bounds-checked reader over the bytes of one file.
class PngByteReader {
public:
  explicit PngByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t position() const { return pos_; }
  std::size_t left() const { return bytes_.size() - pos_; }
  // The next `count` bytes; throws EPngUnexpectedEnd when fewer are left.
  std::span<const std::uint8_t> read(std::size_t count);
  std::uint32_t readU32();
  void skip(std::size_t count) { (void)read(count); }

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

using PngByteWriter = std::vector<std::uint8_t>;

// The CRC of a chunk: over its 4 type bytes, then its data.
std::uint32_t ChunkCrc(std::span<const std::uint8_t, 4> type, std::span<const std::uint8_t> data);

// Inflates a whole zlib stream. False (with zlib's message) on damaged data,
// and false when the text would grow past `limit` bytes.
bool InflateBuffer(std::span<const std::uint8_t> input, std::size_t limit,
                   std::vector<std::uint8_t>& output, std::string& message);
// Deflates `input` into one finished zlib stream at `level`.
bool DeflateBuffer(std::span<const std::uint8_t> input, int level,
                   std::vector<std::uint8_t>& output, std::string& message);

// ---------------------------------------------------------------------------

enum TPngFilterKind : std::uint8_t { fkNone = 0, fkSub = 1, fkUp = 2, fkAverage = 3, fkPaeth = 4 };
// A set of filter kinds: bit n stands for filter type n.
using TPngFilterKinds = std::uint8_t;
constexpr TPngFilterKinds PngFilterSet(std::initializer_list<TPngFilterKind> kinds) {
  TPngFilterKinds set = 0;
  for (TPngFilterKind k : kinds) set = static_cast<TPngFilterKinds>(set | (1u << k));
  return set;
}
inline constexpr TPngFilterKinds kAllPngFilters = 0x1F;

using TChunkType = std::array<std::uint8_t, 4>;
using TGammaTable = std::array<std::uint8_t, 256>;

class TPngPicture;
class TChunkIHDR;

// One chunk. A chunk of a type no class stands for is a plain TChunk: its data
// is read, checked and written back as it was.
class TChunk {
public:
  explicit TChunk(TPngPicture& owner);
  virtual ~TChunk() = default;
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  // The type a class stands for ("IHDR"); empty for the plain chunk.
  static constexpr std::string_view ClassTypeName() { return {}; }
  virtual std::string_view ChunkClassTypeName() const { return ClassTypeName(); }

  // Copies the type, the byte count and the data.
  virtual void Assign(const TChunk& source);
  // Reads `size` data bytes and the CRC after them (the length and type are
  // already read). Throws EPngInvalidCRC on a mismatch; false stops the load.
  virtual bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size);
  virtual bool SaveToStream(PngByteWriter& stream);

  void SetByteCount(std::uint32_t count) { FBytes.resize(count); }
  std::uint32_t ByteCount() const { return static_cast<std::uint32_t>(FBytes.size()); }
  std::span<const std::uint8_t> Bytes() const { return FBytes; }
  std::span<std::uint8_t> Bytes() { return FBytes; }
  const TChunkType& TypeCode() const { return FTypeCode; }
  void SetTypeCode(const TChunkType& type) { FTypeCode = type; }
  TPngPicture& OwnerImage() const { return FOwnerImage; }

  // Position in the owner's list; -1 when absent.
  int IndexInImage() const;
  // The owner's first chunk as a header; EPNGHeaderNotPresent when it is not one.
  TChunkIHDR& ImageHeader() const;
  // Length, type, data and CRC; true.
  bool WriteChunk(PngByteWriter& stream);

protected:
  std::vector<std::uint8_t> FBytes;
  TPngPicture& FOwnerImage;
  TChunkType FTypeCode{};
};

class TChunkIEND : public TChunk {
public:
  explicit TChunkIEND(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "IEND"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
};

struct TPngHeaderFields {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t BitDepth = 0;
  std::uint8_t ColorType = 0;
  std::uint8_t CompressionMethod = 0;
  std::uint8_t FilterMethod = 0;
  std::uint8_t InterlaceMethod = 0;
};

struct TRgbQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
  bool operator==(const TRgbQuad&) const = default;
};

// The pixel store's format: a bitmap header (positive height, so rows run
// bottom-up) and its colour table.
struct TDibInfo {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::array<TRgbQuad, 256> bmiColors{};
};

// Zero-filled bytes owned by one object. Large blocks come from calloc, so
// pages the decoder never writes cost nothing.
class ZeroedBytes {
public:
  ZeroedBytes() = default;
  // Throws EPNGOutMemory when the memory cannot be had.
  explicit ZeroedBytes(std::size_t size);
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }

private:
  struct Free {
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t, Free> data_;
  std::size_t size_ = 0;
};

class TChunkIHDR : public TChunk {
public:
  explicit TChunkIHDR(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "IHDR"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }

  // Copies the header fields and the whole pixel store of another header.
  void Assign(const TChunk& source) override;
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;

  // Frees the pixel store.
  void ReleasePixelStore();
  // Makes an empty (zeroed) pixel store for the header fields. Throws
  // EPNGOutMemory when it would pass the image's pixel store limit.
  void PreparePixelStore();

  const TPngHeaderFields& HeaderFields() const { return FHeaderFields; }
  TPngHeaderFields& HeaderFields() { return FHeaderFields; }
  std::uint32_t Width() const { return FHeaderFields.Width; }
  std::uint32_t Height() const { return FHeaderFields.Height; }
  bool HasPixelStore() const { return FHasPixelStore; }
  bool Indexed() const { return FIndexed; }
  const TDibInfo& DibInfo() const { return FDibInfo; }
  std::array<TRgbQuad, 256>& ColorTable() { return FDibInfo.bmiColors; }
  const std::array<TRgbQuad, 256>& ColorTable() const { return FDibInfo.bmiColors; }
  std::uint32_t RowStride() const { return FRowStride; }
  // RowStride × Height bytes, the image's top row last.
  std::uint8_t* Pixels() { return FPixels.data(); }
  std::span<const std::uint8_t> PixelBytes() const { return FPixels.bytes(); }
  // Width × Height bytes, top row first; empty without alpha (colour types 4, 6).
  std::uint8_t* AlphaPlane() { return FAlphaPlane.data(); }
  std::span<const std::uint8_t> AlphaBytes() const { return FAlphaPlane.bytes(); }
  // Width × Height bytes, top row first: 1 where a grey or colour image's
  // samples equal its tRNS key colour. Empty when the image has no such key.
  std::uint8_t* KeyMask() { return FKeyMask.data(); }
  std::span<const std::uint8_t> KeyMaskBytes() const { return FKeyMask.bytes(); }
  // Gives the store a key mask (all 0); the decoder marks the keyed pixels.
  // Throws EPNGOutMemory when the store and the mask together would pass the
  // image's pixel store limit.
  void PrepareKeyMask();
  // The stored row of image row `row`.
  std::uint8_t* PixelRow(std::uint32_t row) {
    return FPixels.data() + std::size_t(FRowStride) * (FHeaderFields.Height - 1 - row);
  }

  // Stores the indexed flag and a fresh bitmap header for the bit count.
  void SetDibFormat(std::uint16_t bitsPerPixel, bool indexed);

  // Gives the store an alpha plane of Width × Height bytes, all 255. Throws
  // EPNGOutMemory past the image's pixel store limit.
  void PrepareAlphaPlane();
  // Turns a 1-, 2- or 4-bit grey store into an 8-bit one holding the same
  // greys (0..255 samples) with an 8-bit grey ramp as colour table; the
  // header's bit depth becomes 8. Other stores are left alone.
  void WidenGreyStore();

  // Bits per pixel of the store for a colour type and bit depth; 0 when the
  // pair is not a valid PNG format.
  static unsigned StoreBitsPerPixel(std::uint8_t colorType, std::uint8_t bitDepth);

private:
  ZeroedBytes FPixels;
  ZeroedBytes FAlphaPlane;
  ZeroedBytes FKeyMask;
  TDibInfo FDibInfo;
  std::uint32_t FRowStride = 0;
  bool FIndexed = false;
  bool FHasPixelStore = false;
  TPngHeaderFields FHeaderFields;
};

// Decodes all image data when read, encodes the pixel store when written.
class TChunkIDAT : public TChunk {
public:
  explicit TChunkIDAT(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "IDAT"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  // Reads on through every directly following IDAT chunk.
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  // Writes the whole pixel store as one or more IDAT chunks.
  bool SaveToStream(PngByteWriter& stream) override;
};

class TChunkPLTE : public TChunk {
public:
  explicit TChunkPLTE(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "PLTE"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  void Assign(const TChunk& source) override;
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;
  // The colour-table entry as 0x00RRGGBB (blue low); EPngError past the count.
  std::uint32_t GetEntry(unsigned index) const;
  std::uint32_t EntryCount() const { return FEntryCount; }
  // At most 256.
  void SetEntryCount(std::uint32_t count) { FEntryCount = count > 256 ? 256 : count; }

private:
  std::uint32_t FEntryCount = 0;
};

class TChunkgAMA : public TChunk {
public:
  explicit TChunkgAMA(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "gAMA"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  void Assign(const TChunk& source) override;
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;
  // The gamma × 100000; a chunk not 4 bytes long is made 4 bytes and gives 1.
  std::uint32_t GetGammaValue();
  void SetGammaValue(std::uint32_t value);
  // Sets the image's tables for this chunk's value. A chunk not 4 bytes long,
  // or holding 0, leaves them alone.
  void ApplyToImage() const;
};

class TChunktRNS : public TChunk {
public:
  explicit TChunktRNS(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "tRNS"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  void Assign(const TChunk& source) override;
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;
  // Colours are 0x00BBGGRR (red low).
  void SetKeyColor(std::uint32_t color);
  std::uint32_t GetKeyColor() const;
  bool KeyColorOnly() const { return FKeyColorOnly; }
  void SetKeyColorOnly(bool value) { FKeyColorOnly = value; }
  const std::array<std::uint8_t, 256>& AlphaTable() const { return FAlphaTable; }
  std::array<std::uint8_t, 256>& AlphaTable() { return FAlphaTable; }

private:
  bool FKeyColorOnly = false;
  std::array<std::uint8_t, 256> FAlphaTable{};
};

class TChunktIME : public TChunk {
public:
  explicit TChunktIME(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "tIME"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;
  std::uint16_t FYear = 0;
  std::uint8_t FMonth = 0, FDay = 0, FHour = 0, FMinute = 0, FSecond = 0;
};

class TChunktEXt : public TChunk {
public:
  explicit TChunktEXt(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "tEXt"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  void Assign(const TChunk& source) override;
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;
  std::string FKeyword;
  std::string FTextString;
};

class TChunkzTXt : public TChunktEXt {
public:
  explicit TChunkzTXt(TPngPicture& owner);
  static constexpr std::string_view ClassTypeName() { return "zTXt"; }
  std::string_view ChunkClassTypeName() const override { return ClassTypeName(); }
  // A text that does not inflate, or inflates past the image's limit, is empty.
  bool LoadFromStream(PngByteReader& stream, const TChunkType& type, std::uint32_t size) override;
  bool SaveToStream(PngByteWriter& stream) override;
};

// Makes a chunk of one class for an image.
using TChunkFactory = std::unique_ptr<TChunk> (*)(TPngPicture&);
// Adds a class for a 4-letter type; the first class registered for a type wins.
void RegisterChunkClass(std::string_view type, TChunkFactory factory);
// A chunk of the class registered for the type (a plain TChunk when none),
// carrying the type.
std::unique_ptr<TChunk> CreateChunkForType(TPngPicture& image, const TChunkType& type);

// The chunks of an image in file order; owns them.
class TPNGList {
public:
  explicit TPNGList(TPngPicture& owner) : FOwnerImage(owner) {}
  std::size_t Count() const { return FEntries.size(); }
  // Null when the index is outside the list.
  TChunk* ChunkAt(std::size_t index) const {
    return index < FEntries.size() ? FEntries[index].get() : nullptr;
  }
  TChunk& Append(std::unique_ptr<TChunk> chunk);
  // Inserts before `position`; a position at or past the end appends.
  TChunk& InsertAt(std::unique_ptr<TChunk> chunk, std::size_t position);
  // Takes the chunk out of the list; null when it is not there.
  std::unique_ptr<TChunk> Extract(const TChunk* chunk);
  int IndexOf(const TChunk* chunk) const;
  void Clear() { FEntries.clear(); }

  // The first chunk of class C or of a class derived from it; null when none.
  template <class C>
  C* FirstOfClass() const {
    for (const auto& chunk : FEntries)
      if (auto* c = dynamic_cast<C*>(chunk.get())) return c;
    return nullptr;
  }
  // Creates an ancillary chunk of class C and inserts it at its place: gAMA
  // after the header, tRNS after the palette (else before the image data,
  // else after the header), any other before IEND. EPngError for a critical
  // class, a second gAMA or tRNS, or an image without header or IEND.
  template <class C>
  C& AddChunkOfClass() {
    return static_cast<C&>(AddChunk(C::ClassTypeName(), [](TPngPicture& image) -> std::unique_ptr<TChunk> {
      return std::make_unique<C>(image);
    }));
  }

private:
  TChunk& AddChunk(std::string_view type, TChunkFactory factory);
  TPngPicture& FOwnerImage;
  std::vector<std::unique_ptr<TChunk>> FEntries;
};

// How an image is transparent: not at all, by one key colour (a grey or
// colour tRNS key, or a palette whose tRNS gives one entry alpha 0 and leaves
// every other at 255), or per pixel.
enum TPngTransparencyKind : std::uint8_t { tkNone, tkColorKey, tkAlpha };

// An image as drawing needs it: 0xAARRGGBB per pixel, top row first. Alpha is
// 255 for opaque images, 0 or 255 for colour-keyed ones, the image's alpha
// otherwise. Colours are those the store shows (gamma applied as decoded).
struct TPngDrawSource {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  TPngTransparencyKind kind = tkNone;
  std::vector<std::uint32_t> argb;
};

class TPngPicture {
public:
  TPngPicture();
  ~TPngPicture();
  TPngPicture(const TPngPicture&) = delete;
  TPngPicture& operator=(const TPngPicture&) = delete;

  // Loads a whole PNG file. A failed load keeps the chunks read so far.
  void LoadFromBytes(std::span<const std::uint8_t> bytes);
  void LoadFromStream(std::istream& stream);
  // The signature, then every chunk in list order.
  void SaveToStream(PngByteWriter& stream);
  void SaveToStream(std::ostream& stream);
  PngByteWriter SaveToBytes();

  // Gamma tables to identity; every chunk freed.
  void ResetChunks();
  void ResetGammaTables();

  bool GetEmpty() const { return FChunkList.Count() == 0; }
  bool HasHeader() const;
  // EPNGHeaderNotPresent when the first chunk is not a header.
  TChunkIHDR& HeaderChunk() const;
  std::uint32_t GetWidth() const;
  std::uint32_t GetHeight() const;
  // Always EPngError: an image is not resized through its width and height.
  [[noreturn]] void SetWidth(std::uint32_t value);
  [[noreturn]] void SetHeight(std::uint32_t value);
  // Bytes of a packed row of the full width, and bytes per whole pixel.
  void GetRowLayout(std::uint32_t& rowBytes, std::uint32_t& pixelOffset) const;

  TPNGList& Chunks() { return FChunkList; }
  const TPNGList& Chunks() const { return FChunkList; }

  // Transparency. These throw EPNGHeaderNotPresent without a header, except
  // KeyColor, which is 0 without a tRNS chunk.
  TPngTransparencyKind TransparencyKind() const;
  bool GetTransparent() const { return TransparencyKind() != tkNone; }
  // The tRNS chunk's key colour, 0x00BBGGRR.
  std::uint32_t KeyColor() const;

  // The stored row of image row `row` (rows are stored bottom-up).
  std::uint8_t* PixelRow(std::uint32_t row) { return HeaderChunk().PixelRow(row); }
  // Row `row` of the alpha plane for colour types 4 and 6; null otherwise.
  std::uint8_t* AlphaRow(std::uint32_t row);
  // Gives an image without alpha an alpha channel, all opaque: grey becomes
  // grey with alpha (1-, 2- and 4-bit grey widened to 8 bits, so the image
  // can be saved), colour becomes colour with alpha, a palette gets a tRNS
  // chunk of 2^depth entries of 255 (no more than its palette has; entries
  // already transparent keep their alpha). A grey or colour key becomes
  // alpha 0 at the keyed pixels and its tRNS chunk goes, since a file with
  // alpha may not carry one. Other images are left alone.
  void AddAlphaPlane();

  // The colour (0x00BBGGRR) of a pixel as the store holds it: palette and
  // grey images give their colour-table entry, grey with alpha its grey, the
  // others their stored colour; the alpha plane is not read. 0 outside the
  // image.
  std::uint32_t GetPixel(std::int64_t x, std::int64_t y) const;
  // Sets a pixel's colour; palette and grey images take the nearest entry of
  // their colour table. Nothing outside the image.
  void SetPixel(std::int64_t x, std::int64_t y, std::uint32_t color);

  // The colour table (256 entries, 0x00BBGGRR) of grey and palette images;
  // empty for the others.
  std::vector<std::uint32_t> GetPalette() const;
  // Grey and palette images only: the first (up to 256) colours go into the
  // colour table.
  void SetPalette(std::span<const std::uint32_t> colors);

  // Becomes a copy of `source`: its encoding settings and a copy of every
  // chunk, pixel store included. The gamma tables are left at identity.
  void CopyFromPng(const TPngPicture& source);
  // Starts an image of a bitmap's size and depth: chunks IHDR, PLTE (below 16
  // bits per pixel), IDAT and IEND with an empty store. Below 16 bits the
  // image is a palette of that depth (1, 2, 4 or 8) with 2^depth entries;
  // above, 8-bit colour. The caller fills the rows and the colour table, then
  // may key a colour with AddChunkOfClass<TChunktRNS>().SetKeyColor.
  void PrepareFromBitmap(std::uint32_t width, std::uint32_t height, unsigned bitsPerPixel);

  // Everything drawing needs, decided once per drawing. Empty without a
  // header or pixel store. A palette index past the palette shows black.
  TPngDrawSource DrawSource() const;

  const TGammaTable& DecodeGamma() const { return FDecodeGamma; }
  TGammaTable& DecodeGamma() { return FDecodeGamma; }
  const TGammaTable& EncodeGamma() const { return FEncodeGamma; }
  TGammaTable& EncodeGamma() { return FEncodeGamma; }

  TPngFilterKinds AllowedFilters() const { return FAllowedFilters; }
  void SetAllowedFilters(TPngFilterKinds filters) { FAllowedFilters = filters & kAllPngFilters; }
  std::uint8_t DeflateLevel() const { return FDeflateLevel; }
  void SetDeflateLevel(std::uint8_t level) { FDeflateLevel = level; }
  std::int32_t IdatLimit() const { return FIdatLimit; }
  // Values below 65535 give 65535.
  void SetIdatLimit(std::int32_t value) { FIdatLimit = value > 65534 ? value : 65535; }
  std::uint8_t Interlacing() const { return FInterlacing; }
  void SetInterlacing(std::uint8_t value) { FInterlacing = value ? 1 : 0; }

  // Largest pixel store (pixels, alpha and key mask together) an image may
  // make, and the largest text a zTXt chunk may inflate to.
  static constexpr std::uint64_t kDefaultPixelStoreLimit = 512ull << 20;
  std::uint64_t PixelStoreLimit() const { return FPixelStoreLimit; }
  void SetPixelStoreLimit(std::uint64_t bytes) { FPixelStoreLimit = bytes; }

  static constexpr std::array<std::uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};

private:
  TGammaTable FDecodeGamma{};
  TGammaTable FEncodeGamma{};
  TPngFilterKinds FAllowedFilters = PngFilterSet({fkSub});
  std::uint8_t FDeflateLevel = 7;
  std::int32_t FIdatLimit = 65535;
  std::uint8_t FInterlacing = 0;
  std::uint64_t FPixelStoreLimit = kDefaultPixelStoreLimit;
  TPNGList FChunkList;
};

// Bytes of one packed row of `pixels` pixels, without the filter byte; 0 for
// an unknown colour type.
std::uint32_t RowByteCount(std::uint32_t pixels, std::uint8_t colorType, std::uint8_t bitDepth);
