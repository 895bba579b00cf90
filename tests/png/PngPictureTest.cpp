// TPngPicture on small files built for one fault or one rule each.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <typeinfo>

#include "png/pngpicture.h"
#include "tests/png/PngTestImages.h"

using namespace pngtest;

namespace {

// Raw bytes 0, 1, 2, ... for `rows` rows of `rowBytes`.
Bytes countingRows(std::size_t rows, std::size_t rowBytes) {
  Bytes raw(rows * rowBytes);
  std::iota(raw.begin(), raw.end(), std::uint8_t(0));
  return raw;
}

// A 4 × 4 grey 8-bit image with the given chunks between IHDR and IDAT.
PngFile greyImage(const std::function<void(PngFile&)>& before = {}) {
  PngFile f;
  f.ihdr(4, 4, 8, 0);
  if (before) before(f);
  f.idat(zlibCompress(unfilteredRows(countingRows(4, 4), 4)));
  return f;
}

struct Failure {
  const std::type_info* type = nullptr;
  std::string text;
};
Failure loadFailure(TPngPicture& image, const Bytes& bytes) {
  try {
    image.LoadFromBytes(bytes);
  } catch (const std::exception& e) {
    return {&typeid(e), e.what()};
  }
  return {};
}

}  // namespace

TEST(PngPicture, DamagedStreamsFailWithTheirError) {
  const Bytes twelveByteHeader = {0, 0, 0, 4, 0, 0, 0, 4, 8, 0, 0, 0};
  Bytes rows = zlibCompress(unfilteredRows(countingRows(4, 4), 4));
  Bytes truncatedStream(rows.begin(), rows.begin() + long(rows.size() / 2));
  Bytes bigNoise(64 * 64 * 3);
  std::mt19937 rng(7);
  for (auto& b : bigNoise) b = std::uint8_t(rng());
  Bytes noiseStream = zlibCompress(unfilteredRows(bigNoise, 64 * 3), 0);
  struct Case {
    const char* name;
    Bytes file;
    const std::type_info& type;
    std::string_view text;
  };
  const std::string dataError = std::string(pngtext::kZlibError) + "data error (-3)";
  const Case cases[] = {
      {"eight wrong bytes", Bytes(8, 'x'), typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"signature only", PngFile().bytes(), typeid(EPngUnexpectedEnd), pngtext::kUnexpectedEnd},
      {"pHYs first", PngFile().chunk("pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}).ihdr(4, 4, 8, 0).bytes(),
       typeid(EPNGIHDRNotFirst), pngtext::kIhdrNotFirst},
      {"IHDR of 12 bytes", PngFile().chunk("IHDR", twelveByteHeader).bytes(), typeid(EPngInvalidIHDR),
       pngtext::kInvalidIhdr},
      {"width 65536", PngFile().ihdr(65536, 1, 8, 0).bytes(), typeid(EPNGSizeExceeds), pngtext::kSizeExceeds},
      {"interlace 2", PngFile().ihdr(4, 4, 8, 0, 2).bytes(), typeid(EPNGUnknownInterlace),
       pngtext::kUnknownInterlace},
      {"compression 1", PngFile().ihdr(4, 4, 8, 0, 0, 1).bytes(), typeid(EPNGUnknownCompression),
       pngtext::kUnknownCompression},
      {"palette of 16 bits", PngFile().ihdr(4, 4, 16, 3).bytes(), typeid(EPngInvalidIHDR), pngtext::kInvalidIhdr},
      {"store past the limit", PngFile().ihdr(65535, 65535, 16, 6).bytes(), typeid(EPNGOutMemory),
       pngtext::kOutMemory},
      {"PLTE of 7 bytes", greyImage([](PngFile& f) { f.chunk("PLTE", {1, 2, 3, 4, 5, 6, 7}); }).iend().bytes(),
       typeid(EPNGInvalidPalette), pngtext::kInvalidPalette},
      {"PLTE of 770 bytes", greyImage([](PngFile& f) { f.chunk("PLTE", Bytes(770)); }).iend().bytes(),
       typeid(EPNGInvalidPalette), pngtext::kInvalidPalette},
      {"tRNS of 257 bytes", greyImage([](PngFile& f) { f.chunk("tRNS", Bytes(257)); }).iend().bytes(),
       typeid(EPNGInvalidPalette), pngtext::kInvalidPalette},
      {"flipped bit in pHYs",
       greyImage([](PngFile& f) { f.badCrcChunk("pHYs", Bytes{0, 0, 0, 1, 0, 0, 0, 1, 1}); }).iend().bytes(),
       typeid(EPngInvalidCRC), pngtext::kInvalidCrc},
      {"unknown critical chunk", greyImage([](PngFile& f) { f.chunk("ABcd", {1, 2}); }).iend().bytes(),
       typeid(EPNGUnknownCriticalChunk), pngtext::kUnknownCriticalChunk},
      {"no IDAT", PngFile().ihdr(4, 4, 8, 0).iend().bytes(), typeid(EPNGNoImageData), pngtext::kNoImageData},
      {"ends after its IDAT", greyImage().bytes(), typeid(EPngUnexpectedEnd), pngtext::kUnexpectedEnd},
      {"huge chunk in a small file", PngFile().ihdr(4, 4, 8, 0).chunkStart(0x7FFFFFF0, "abCd").bytes(),
       typeid(EPngUnexpectedEnd), pngtext::kUnexpectedEnd},
      {"huge IDAT in a small file", PngFile().ihdr(4, 4, 8, 0).chunkStart(0x7FFFFFF0, "IDAT").bytes(),
       typeid(EPngUnexpectedEnd), pngtext::kUnexpectedEnd},
      {"chunk cut short", PngFile().ihdr(4, 4, 8, 0).chunkStart(10, "abCd").bytes(), typeid(EPngUnexpectedEnd),
       pngtext::kUnexpectedEnd},
      {"rows missing before IEND", PngFile().ihdr(4, 4, 8, 0).idat(truncatedStream).iend().bytes(),
       typeid(EPNGMissingMultipleIDAT), pngtext::kMissingMultipleIdat},
      {"bad CRC in the middle of three IDATs",
       [&] {
         PngFile f;
         f.ihdr(64, 64, 8, 2);
         std::size_t third = noiseStream.size() / 3;
         std::span<const std::uint8_t> s(noiseStream);
         f.chunk("IDAT", s.subspan(0, third)).badCrcChunk("IDAT", s.subspan(third, third));
         f.chunk("IDAT", s.subspan(2 * third)).iend();
         return f.bytes();
       }(),
       typeid(EPngInvalidCRC), pngtext::kInvalidCrc},
      {"damaged zlib data",
       [&] {
         Bytes bad = rows;
         bad[2] = 0xFF;  // an invalid block type
         return PngFile().ihdr(4, 4, 8, 0).idat(bad).iend().bytes();
       }(),
       typeid(EPNGZLIBError), dataError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPngPicture image;
    Failure f = loadFailure(image, c.file);
    ASSERT_NE(f.type, nullptr) << "loaded";
    EXPECT_STREQ(f.type->name(), c.type.name());
    EXPECT_EQ(f.text, c.text);
  }
}

TEST(PngPicture, FailedLoadsKeepWhatWasRead) {
  TPngPicture image;
  loadFailure(image, Bytes(8, 'x'));
  EXPECT_TRUE(image.GetEmpty());
  loadFailure(image, greyImage([](PngFile& f) { f.chunk("ABcd", {1}); }).iend().bytes());
  ASSERT_EQ(image.Chunks().Count(), 2u);
  EXPECT_EQ(image.Chunks().ChunkAt(1)->TypeCode(), (TChunkType{'A', 'B', 'c', 'd'}));
  loadFailure(image, PngFile().ihdr(4, 4, 8, 0).iend().bytes());
  EXPECT_EQ(image.Chunks().Count(), 2u);
  EXPECT_EQ(image.GetWidth(), 4u);
}

TEST(PngPicture, AncillaryChunksReturnByteForByteAndCHRMIsDropped) {
  const Bytes unknown = {'d', 'a', 't', 'a', 0, 1, 2};
  const Bytes phys = {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1};
  Bytes iccp = {'I', 'C', 'C', 0, 0};
  Bytes profile = zlibCompress(Bytes(200, 7));
  iccp.insert(iccp.end(), profile.begin(), profile.end());
  PngFile f;
  f.ihdr(2, 2, 8, 6).chunk("pHYs", phys).chunk("iCCP", iccp).chunk("abCd", unknown);
  f.badCrcChunk("cHRM", Bytes(32, 1));  // passed over unread
  f.idat(zlibCompress(unfilteredRows(countingRows(2, 8), 8))).iend();
  TPngPicture image;
  ASSERT_NO_THROW(image.LoadFromBytes(f.bytes()));
  Bytes saved = image.SaveToBytes();
  std::vector<Chunk> chunks = chunksOf(saved);
  ASSERT_EQ(chunks.size(), 6u);
  EXPECT_EQ(chunks[1].type, "pHYs");
  EXPECT_EQ(chunks[1].data, phys);
  EXPECT_EQ(chunks[2].type, "iCCP");
  EXPECT_EQ(chunks[2].data, iccp);
  EXPECT_EQ(chunks[3].type, "abCd");
  EXPECT_EQ(chunks[3].data, unknown);
  EXPECT_EQ(chunks[4].type, "IDAT");
  // Every chunk written carries a right CRC: the file loads again.
  TPngPicture again;
  EXPECT_NO_THROW(again.LoadFromBytes(saved));
}

TEST(PngPicture, ImageDataOverChunksDecodesLikeOneChunk) {
  Bytes raw(64 * 64 * 3);
  std::mt19937 rng(3);
  for (auto& b : raw) b = std::uint8_t(rng());
  Bytes stream = zlibCompress(unfilteredRows(raw, 64 * 3));
  TPngPicture one, three;
  one.LoadFromBytes(PngFile().ihdr(64, 64, 8, 2).idat(stream).iend().bytes());
  three.LoadFromBytes(PngFile().ihdr(64, 64, 8, 2).idat(stream, 3).iend().bytes());
  EXPECT_TRUE(storeRgba(one).pixels == storeRgba(three).pixels);
  EXPECT_EQ(three.Chunks().Count(), 3u);  // one IDAT object for all three
}

// A stored zlib stream of 65,539 bytes: its first 65,535-byte block holds
// every row, and the Adler-32 after it must still count for the CRC.
TEST(PngPicture, RestOfTheLastIdatJoinsItsCrc) {
  Bytes raw = countingRows(8191, 7);
  Bytes stream = zlibCompress(unfilteredRows(raw, 7), 0);
  ASSERT_EQ(stream.size(), 65539u) << "zlib no longer stores this in one block";
  TPngPicture image;
  ASSERT_NO_THROW(image.LoadFromBytes(PngFile().ihdr(7, 8191, 8, 0).idat(stream).iend().bytes()));
  EXPECT_EQ(image.HeaderChunk().PixelRow(8190)[6], raw.back());
}

TEST(PngPicture, ZlibStreamEndingEarlyKeepsTheRowsSoFar) {
  Bytes raw = countingRows(2, 4);
  TPngPicture image;
  ASSERT_NO_THROW(image.LoadFromBytes(PngFile().ihdr(4, 4, 8, 0).idat(zlibCompress(unfilteredRows(raw, 4))).iend().bytes()));
  EXPECT_EQ(image.HeaderChunk().PixelRow(1)[3], 7);
  EXPECT_EQ(image.HeaderChunk().PixelRow(2)[3], 0);
}

TEST(PngPicture, ZlibStreamAskingForADictionaryStopsWithNoRows) {
  // A zlib header with the preset-dictionary flag, then the dictionary's id.
  const Bytes stream = {0x78, 0xF9, 0, 0, 0, 1, 0x63, 0, 0};
  TPngPicture image;
  ASSERT_NO_THROW(image.LoadFromBytes(PngFile().ihdr(4, 4, 8, 0).idat(stream).iend().bytes()));
  auto pixels = image.HeaderChunk().PixelBytes();
  EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(PngPicture, StoreLimitCountsTheKeyMaskOnlyWithAKey) {
  Bytes rows = zlibCompress(unfilteredRows(countingRows(8, 8), 8));
  TPngPicture plain, keyed;
  plain.SetPixelStoreLimit(100);  // the 64-byte store fits, store and mask do not
  keyed.SetPixelStoreLimit(100);
  EXPECT_NO_THROW(plain.LoadFromBytes(PngFile().ihdr(8, 8, 8, 0).idat(rows).iend().bytes()));
  EXPECT_THROW(keyed.LoadFromBytes(PngFile().ihdr(8, 8, 8, 0).chunk("tRNS", {0, 1}).idat(rows).iend().bytes()),
               EPNGOutMemory);
}

TEST(PngPicture, EmptyImagesLoadAndSave) {
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    for (auto [width, height] : {std::pair{0u, 3u}, std::pair{3u, 0u}}) {
      Bytes rows(height, 0);  // just the filter bytes
      TPngPicture image;
      ASSERT_NO_THROW(image.LoadFromBytes(
          PngFile().ihdr(width, height, 8, 2, interlaced).idat(zlibCompress(rows)).iend().bytes()));
      TPngPicture again;
      EXPECT_NO_THROW(again.LoadFromBytes(image.SaveToBytes()));
      EXPECT_EQ(again.GetWidth(), width);
    }
  }
}

TEST(PngPicture, TwoBitGreyIsWrittenWithFourBitsAndItsKeyScaled) {
  // Samples 0, 1, 2, 3 in one byte; the key is grey 2.
  TPngPicture image;
  image.LoadFromBytes(PngFile().ihdr(4, 1, 2, 0).chunk("tRNS", {0, 2}).idat(zlibCompress(Bytes{0, 0x1B})).iend().bytes());
  Bytes saved = image.SaveToBytes();
  std::vector<Chunk> chunks = chunksOf(saved);
  EXPECT_EQ(chunks[0].data[8], 4);
  EXPECT_EQ(chunks[1].data, (Bytes{0, 10}));
  TPngPicture again;
  again.LoadFromBytes(saved);
  auto mask = again.HeaderChunk().KeyMaskBytes();
  EXPECT_EQ(Bytes(mask.begin(), mask.end()), (Bytes{0, 0, 1, 0}));
  EXPECT_TRUE(storeRgba(again).pixels == storeRgba(image).pixels);
}

// Each chunk is written with the gamma curve it was read with: a palette
// before the gAMA chunk was read without one and is written without one.
TEST(PngPicture, ChunksBeforeTheGammaChunkKeepTheirBytes) {
  const Bytes plte = {100, 150, 200};
  PngFile f;
  f.ihdr(1, 1, 8, 3).chunk("PLTE", plte).chunk("gAMA", {0, 1, 0x86, 0xA0}).idat(zlibCompress(Bytes{0, 0})).iend();
  TPngPicture image;
  image.LoadFromBytes(f.bytes());
  std::vector<Chunk> chunks = chunksOf(image.SaveToBytes());
  EXPECT_EQ(chunks[1].data, plte);
  EXPECT_EQ(image.DecodeGamma()[128], 186);  // the image's tables are as loaded
}

TEST(PngPicture, FiltersAreUndone) {
  // Two rows of an RGB image of 2 pixels: the first with Paeth (which has a
  // zero row above, so it acts as Sub), the second with type 7 (taken as is).
  Bytes rows = {4, 10, 20, 30, 1, 2, 3, 7, 9, 8, 7, 6, 5, 4};
  TPngPicture image;
  image.LoadFromBytes(PngFile().ihdr(2, 2, 8, 2).idat(zlibCompress(rows)).iend().bytes());
  Rgba rgba = storeRgba(image);
  EXPECT_EQ(rgba.pixels, (Bytes{10, 20, 30, 255, 11, 22, 33, 255, 9, 8, 7, 255, 6, 5, 4, 255}));
}

TEST(PngPicture, GammaChunkSetsTheTables) {
  struct Case {
    std::uint32_t value;
    int decode128;
  };
  for (Case c : {Case{100000, 186}, Case{45455, 128}, Case{0, 128}}) {
    SCOPED_TRACE(c.value);
    Bytes gama = {std::uint8_t(c.value >> 24), std::uint8_t(c.value >> 16), std::uint8_t(c.value >> 8),
                  std::uint8_t(c.value)};
    PngFile f;
    f.ihdr(1, 1, 8, 2).chunk("gAMA", gama).idat(zlibCompress(Bytes{0, 128, 0, 0})).iend();
    TPngPicture image;
    image.LoadFromBytes(f.bytes());
    EXPECT_EQ(image.DecodeGamma()[128], c.decode128);
    EXPECT_EQ(image.HeaderChunk().PixelRow(0)[2], c.decode128);  // the red sample
  }
  // A gAMA chunk of another size is not a curve at all.
  TPngPicture image;
  image.LoadFromBytes(greyImage([](PngFile& f) { f.chunk("gAMA", {0, 1, 0x86}); }).iend().bytes());
  EXPECT_EQ(image.DecodeGamma()[128], 128);
}

TEST(PngPicture, PaletteTransparency) {
  struct Case {
    Bytes trns;
    bool keyOnly;
    std::uint32_t keyColor;
  };
  const Bytes plte = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  for (const Case& c : {Case{{255, 0, 255}, true, 0x3C3228}, Case{{255, 128}, true, 0}, Case{{255, 255}, false, 0}}) {
    PngFile f;
    f.ihdr(1, 1, 8, 3).chunk("PLTE", plte).chunk("tRNS", c.trns).idat(zlibCompress(Bytes{0, 1})).iend();
    TPngPicture image;
    image.LoadFromBytes(f.bytes());
    auto* trns = image.Chunks().FirstOfClass<TChunktRNS>();
    ASSERT_NE(trns, nullptr);
    EXPECT_EQ(trns->KeyColorOnly(), c.keyOnly);
    EXPECT_EQ(trns->GetKeyColor(), c.keyColor);
  }
}

TEST(PngPicture, GreyKeyColourIsSetAndRead) {
  TPngPicture image;
  image.LoadFromBytes(greyImage([](PngFile& f) { f.chunk("tRNS", {0, 5}); }).iend().bytes());
  EXPECT_EQ(image.HeaderChunk().KeyMaskBytes()[5], 1);  // the sample 5
  auto* trns = image.Chunks().FirstOfClass<TChunktRNS>();
  trns->SetKeyColor(0x808080);
  Bytes saved = image.SaveToBytes();
  for (const Chunk& c : chunksOf(saved))
    if (c.type == "tRNS") {
      EXPECT_EQ(c.data, (Bytes{0, 0x80}));
    }
  EXPECT_EQ(trns->GetKeyColor(), 0x808080u);
}

TEST(PngPicture, TimeAndTextChunks) {
  Bytes text(1000, 'a');
  Bytes ztxt = {'K', 'e', 'y', 0, 0};
  Bytes packed = zlibCompress(text);
  ztxt.insert(ztxt.end(), packed.begin(), packed.end());
  TPngPicture image;
  image.LoadFromBytes(greyImage([&](PngFile& f) {
                        f.chunk("tIME", {0x07, 0xD9, 5, 6, 7, 8, 9});
                        f.chunk("zTXt", ztxt);
                        f.chunk("tEXt", {'T', 'i', 't', 'l', 'e', 0, 'x'});
                      })
                          .iend()
                          .bytes());
  auto* z = image.Chunks().FirstOfClass<TChunkzTXt>();
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z->FKeyword, "Key");
  EXPECT_EQ(z->FTextString, std::string(1000, 'a'));
  EXPECT_EQ(image.Chunks().FirstOfClass<TChunktIME>()->FYear, 2009);
  z->FTextString.clear();
  std::vector<Chunk> saved = chunksOf(image.SaveToBytes());
  EXPECT_EQ(saved[1].data, (Bytes{0x07, 0xD9, 5, 6, 7, 8, 9}));
  EXPECT_EQ(zlibInflate(std::span(saved[2].data).subspan(5)), Bytes{' '});
  EXPECT_EQ(saved[3].data, (Bytes{'T', 'i', 't', 'l', 'e', 0, 'x'}));

  // A text that would inflate past the limit comes out empty.
  TPngPicture small;
  small.SetPixelStoreLimit(999);
  small.LoadFromBytes(greyImage([&](PngFile& f) { f.chunk("zTXt", ztxt); }).iend().bytes());
  EXPECT_EQ(small.Chunks().FirstOfClass<TChunkzTXt>()->FTextString, "");
}

TEST(PngPicture, AddingChunksAndResizing) {
  TPngPicture image;
  image.LoadFromBytes(greyImage().iend().bytes());
  TChunktEXt& text = image.Chunks().AddChunkOfClass<TChunktEXt>();
  EXPECT_EQ(text.IndexInImage(), 2);
  EXPECT_EQ(image.Chunks().AddChunkOfClass<TChunkgAMA>().IndexInImage(), 1);
  for (const std::function<void()>& add : std::initializer_list<std::function<void()>>{
           [&] { image.Chunks().AddChunkOfClass<TChunkgAMA>(); },
           [&] { image.Chunks().AddChunkOfClass<TChunkPLTE>(); }}) {
    try {
      add();
      ADD_FAILURE() << "added";
    } catch (const EPngError& e) {
      EXPECT_EQ(e.what(), pngtext::kExistentCritical);
    }
  }
  EXPECT_THROW(image.SetWidth(10), EPngError);
  EXPECT_EQ(image.GetWidth(), 4u);
  TPngPicture empty;
  EXPECT_THROW(empty.HeaderChunk(), EPNGHeaderNotPresent);
  EXPECT_EQ(empty.GetWidth(), 0u);
}

TEST(PngPicture, StoreLayoutFollowsTheHeader) {
  struct Case {
    std::uint32_t width;
    std::uint8_t bitDepth, colorType;
    unsigned bits;
    std::uint32_t stride;
    std::size_t alpha;
  };
  for (Case c : {Case{16, 8, 6, 24, 48, 256}, Case{3, 1, 0, 1, 4, 0}, Case{5, 2, 0, 4, 4, 0}, Case{9, 16, 4, 8, 12, 81}}) {
    SCOPED_TRACE(c.width);
    std::uint32_t rowBytes = RowByteCount(c.width, c.colorType, c.bitDepth);
    TPngPicture image;
    image.LoadFromBytes(
        PngFile().ihdr(c.width, c.width, c.bitDepth, c.colorType).idat(zlibCompress(unfilteredRows(Bytes(rowBytes * c.width), rowBytes))).iend().bytes());
    const TChunkIHDR& h = image.HeaderChunk();
    EXPECT_EQ(h.DibInfo().biBitCount, c.bits);
    EXPECT_EQ(h.RowStride(), c.stride);
    EXPECT_EQ(h.AlphaBytes().size(), c.alpha);
  }
  // Top-left red pixel with alpha 128 lands in the last stored row.
  Bytes rows(16 * 65, 0);
  rows[1] = 255;
  rows[4] = 128;
  TPngPicture image;
  image.LoadFromBytes(PngFile().ihdr(16, 16, 8, 6).idat(zlibCompress(rows)).iend().bytes());
  const TChunkIHDR& h = image.HeaderChunk();
  const std::uint8_t* last = h.PixelBytes().data() + 15 * 48;
  EXPECT_EQ((Bytes{last[0], last[1], last[2]}), (Bytes{0, 0, 255}));
  EXPECT_EQ(h.AlphaBytes()[0], 128);
}

TEST(PngPicture, EncoderWritesRowsWithTheChosenFilter) {
  // 16 × 16 RGBA with the defaults: one IDAT, every row Sub.
  Bytes raw = countingRows(16, 64);
  TPngPicture image;
  image.LoadFromBytes(PngFile().ihdr(16, 16, 8, 6).idat(zlibCompress(unfilteredRows(raw, 64))).iend().bytes());
  Bytes saved = image.SaveToBytes();
  Bytes rows = zlibInflate(idatStream(saved));
  ASSERT_EQ(rows.size(), 16u * 65);
  for (int y = 0; y < 16; ++y) {
    EXPECT_EQ(rows[y * 65], 1);
    EXPECT_TRUE(std::equal(rows.begin() + y * 65 + 1, rows.begin() + y * 65 + 5, raw.begin() + y * 64));
  }

  // A row repeating the one before it is written as Up when the choice is
  // between none and Up.
  Bytes same(2 * 16);
  for (int i = 0; i < 32; ++i) same[i] = std::uint8_t(i % 16 + 1);
  TPngPicture grey;
  grey.LoadFromBytes(PngFile().ihdr(16, 2, 8, 0).idat(zlibCompress(unfilteredRows(same, 16))).iend().bytes());
  grey.SetAllowedFilters(PngFilterSet({fkNone, fkUp}));
  Bytes greyRows = zlibInflate(idatStream(grey.SaveToBytes()));
  ASSERT_EQ(greyRows.size(), 2u * 17);
  EXPECT_EQ(greyRows[0], 0);
  EXPECT_EQ(greyRows[17], 2);

  // 1 × 1 interlaced: only the first pass has data.
  TPngPicture dot;
  dot.LoadFromBytes(PngFile().ihdr(1, 1, 8, 0, 1).idat(zlibCompress(Bytes{0, 42})).iend().bytes());
  EXPECT_EQ(zlibInflate(idatStream(dot.SaveToBytes())), (Bytes{1, 42}));
}

TEST(PngPicture, NoiseIsWrittenInFullSizeIdatChunks) {
  Bytes raw(256 * 256 * 4);
  std::mt19937 rng(11);
  for (auto& b : raw) b = std::uint8_t(rng());
  TPngPicture image;
  image.LoadFromBytes(PngFile().ihdr(256, 256, 8, 6).idat(zlibCompress(unfilteredRows(raw, 1024))).iend().bytes());
  std::vector<std::size_t> sizes;
  for (const Chunk& c : chunksOf(image.SaveToBytes()))
    if (c.type == "IDAT") sizes.push_back(c.data.size());
  ASSERT_GT(sizes.size(), 1u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 65535u);
  EXPECT_LE(sizes.back(), 65535u);
}

TEST(PngPicture, DeflateFailureIsReported) {
  TPngPicture image;
  image.LoadFromBytes(greyImage().iend().bytes());
  image.SetDeflateLevel(12);
  try {
    image.SaveToBytes();
    ADD_FAILURE() << "saved";
  } catch (const EPNGZLIBError& e) {
    EXPECT_EQ(e.what(), std::string(pngtext::kZlibError) + "stream error (-2)");
  }
}

// ---------------------------------------------------------------------------
// Transparency, pixels and the palette

namespace {

TPngPicture& load(TPngPicture& image, const PngFile& file) {
  image.LoadFromBytes(file.bytes());
  return image;
}

// A 2 × 1 palette image of entries 0 and 1, with a tRNS chunk when given.
PngFile paletteImage(const Bytes& trns, const Bytes& plte = {10, 20, 30, 200, 100, 50}) {
  PngFile f;
  f.ihdr(2, 1, 8, 3).chunk("PLTE", plte);
  if (!trns.empty()) f.chunk("tRNS", trns);
  f.idat(zlibCompress(Bytes{0, 0, 1})).iend();
  return f;
}

// An RGB image of `width` × 1 whose pixel x is (x, 255 − x mod 256, 7).
PngFile rgbRow(std::uint32_t width, const Bytes& trns = {}) {
  Bytes row;
  for (std::uint32_t x = 0; x < width; ++x) row.insert(row.end(), {std::uint8_t(x), std::uint8_t(255 - x), 7});
  PngFile f;
  f.ihdr(width, 1, 8, 2);
  if (!trns.empty()) f.chunk("tRNS", trns);
  f.idat(zlibCompress(unfilteredRows(row, row.size()))).iend();
  return f;
}

}  // namespace

TEST(PngPicture, TransparencyKindFollowsTheColourTypeAndTheTransparencyChunk) {
  struct Case {
    const char* name;
    PngFile file;
    TPngTransparencyKind kind;
  };
  const Case cases[] = {
      {"grey", greyImage().iend(), tkNone},
      {"grey with a key", greyImage([](PngFile& f) { f.chunk("tRNS", {0, 5}); }).iend(), tkColorKey},
      {"colour", rgbRow(2), tkNone},
      {"colour with a key", rgbRow(2, {0, 1, 0, 254, 0, 7}), tkColorKey},
      {"palette", paletteImage({}), tkNone},
      {"palette, entry 1 transparent", paletteImage({255, 0}), tkColorKey},
      {"palette, entry 1 half transparent", paletteImage({255, 128}), tkAlpha},
      {"palette, two entries transparent", paletteImage({0, 0}), tkAlpha},
      {"palette, all opaque", paletteImage({255, 255}), tkAlpha},
      {"grey with alpha", PngFile().ihdr(1, 1, 8, 4).idat(zlibCompress(Bytes{0, 9, 9})).iend(), tkAlpha},
      {"colour with alpha", PngFile().ihdr(1, 1, 8, 6).idat(zlibCompress(Bytes{0, 1, 2, 3, 4})).iend(), tkAlpha},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPngPicture image;
    load(image, c.file);
    EXPECT_EQ(image.TransparencyKind(), c.kind);
    EXPECT_EQ(image.GetTransparent(), c.kind != tkNone);
  }

  TPngPicture empty;
  EXPECT_THROW((void)empty.TransparencyKind(), EPNGHeaderNotPresent);
  EXPECT_THROW((void)empty.GetPixel(0, 0), EPNGHeaderNotPresent);
  EXPECT_THROW(empty.AddAlphaPlane(), EPNGHeaderNotPresent);
  EXPECT_EQ(empty.KeyColor(), 0u);
  EXPECT_TRUE(empty.DrawSource().argb.empty());
}

TEST(PngPicture, PixelsAreReadAndWrittenInsideTheImageOnly) {
  TPngPicture rgb;
  load(rgb, rgbRow(400));
  EXPECT_EQ(rgb.GetPixel(300, 0), 0x07D32Cu);  // (44, 211, 7)
  for (auto [x, y] : {std::pair{400, 0}, {-1, 0}, {0, 1}, {0, -1}}) EXPECT_EQ(rgb.GetPixel(x, y), 0u) << x << "," << y;
  rgb.SetPixel(400, 0, 0xFFFFFF);
  rgb.SetPixel(-1, 0, 0xFFFFFF);
  rgb.SetPixel(399, 0, 0x030201);
  EXPECT_EQ(rgb.GetPixel(399, 0), 0x030201u);
  EXPECT_EQ(rgb.PixelRow(0)[399 * 3], 3);  // stored blue, green, red
  EXPECT_EQ(rgb.AlphaRow(0), nullptr);

  TPngPicture greyAlpha;
  load(greyAlpha, PngFile().ihdr(2, 1, 8, 4).idat(zlibCompress(Bytes{0, 9, 100, 40, 200})).iend());
  EXPECT_EQ(greyAlpha.GetPixel(1, 0), 0x282828u);
  EXPECT_EQ(greyAlpha.AlphaRow(0)[1], 200);
  greyAlpha.SetPixel(1, 0, 0x123456);
  EXPECT_EQ(greyAlpha.GetPixel(1, 0), 0x565656u);
  EXPECT_EQ(greyAlpha.AlphaRow(0)[1], 200);  // pixels leave the alpha alone

  // A palette pixel is the palette entry; setting one picks the nearest entry.
  TPngPicture palette;
  load(palette, paletteImage({}));
  EXPECT_EQ(palette.GetPixel(1, 0), 0x3264C8u);
  palette.SetPixel(1, 0, 0x0A1409);
  EXPECT_EQ(palette.GetPixel(1, 0), 0x1E140Au);
  EXPECT_EQ(palette.PixelRow(0)[1], 0);

  // 1-bit grey: 0 or white; the second pixel is set through its bit.
  TPngPicture bits;
  load(bits, PngFile().ihdr(3, 1, 1, 0).idat(zlibCompress(Bytes{0, 0b10100000})).iend());
  EXPECT_EQ(bits.GetPixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(bits.GetPixel(1, 0), 0u);
  bits.SetPixel(1, 0, 0xF0F0F0);
  EXPECT_EQ(bits.PixelRow(0)[0], 0b11100000);
}

TEST(PngPicture, PalettePixelsCarryTheDecodedGammaOnce) {
  // gAMA 0.5 lifts mid greys; the pixel shows the table entry as decoded,
  // not the gamma applied to it a second time.
  PngFile f;
  f.ihdr(1, 1, 8, 3).chunk("gAMA", {0, 0, 0xC3, 0x50}).chunk("PLTE", {128, 128, 128}).idat(zlibCompress(Bytes{0, 0}));
  TPngPicture image;
  load(image, f.iend());
  const std::uint8_t entry = image.HeaderChunk().ColorTable()[0].rgbRed;
  EXPECT_NE(entry, 128);
  EXPECT_EQ(image.GetPixel(0, 0), std::uint32_t(entry) * 0x010101u);
  EXPECT_EQ(image.GetPalette()[0], std::uint32_t(entry) * 0x010101u);
}

TEST(PngPicture, PaletteIsTheColourTableOfGreyAndPaletteImages) {
  TPngPicture palette;
  load(palette, paletteImage({}));
  std::vector<std::uint32_t> colours = palette.GetPalette();
  ASSERT_EQ(colours.size(), 256u);
  EXPECT_EQ(colours[0], 0x1E140Au);
  colours[1] = 0x0000FF;
  palette.SetPalette(colours);
  EXPECT_EQ(palette.GetPixel(1, 0), 0x0000FFu);
  // The palette chunk is written from the table.
  for (const Chunk& c : chunksOf(palette.SaveToBytes()))
    if (c.type == "PLTE") EXPECT_EQ(c.data, (Bytes{10, 20, 30, 255, 0, 0}));

  TPngPicture rgb;
  load(rgb, rgbRow(2));
  EXPECT_TRUE(rgb.GetPalette().empty());
  rgb.SetPalette(colours);  // nothing to take them
  EXPECT_EQ(rgb.GetPixel(1, 0), 0x07FE01u);
}

TEST(PngPicture, AddAlphaPlaneGivesOpaqueAlpha) {
  TPngPicture rgb;
  load(rgb, rgbRow(3));
  rgb.AddAlphaPlane();
  EXPECT_EQ(rgb.HeaderChunk().HeaderFields().ColorType, 6);
  EXPECT_EQ(rgb.TransparencyKind(), tkAlpha);
  EXPECT_EQ(Bytes(rgb.AlphaRow(0), rgb.AlphaRow(0) + 3), (Bytes{255, 255, 255}));
  EXPECT_EQ(libpngRgba(rgb.SaveToBytes()).pixels, (Bytes{0, 255, 7, 255, 1, 254, 7, 255, 2, 253, 7, 255}));

  // A palette gets a tRNS chunk right after its PLTE: 2^depth entries of 255,
  // or as many as a shorter palette has, so the file stays valid.
  for (std::uint8_t depth : {std::uint8_t(1), std::uint8_t(2), std::uint8_t(4), std::uint8_t(8)}) {
    for (std::size_t entries : {std::size_t(1) << depth, std::size_t(1)}) {
      SCOPED_TRACE(testing::Message() << "depth " << int(depth) << ", entries " << entries);
      Bytes plte(entries * 3, 7);
      PngFile f;
      f.ihdr(1, 1, depth, 3).chunk("PLTE", plte).idat(zlibCompress(Bytes{0, 0})).iend();
      TPngPicture palette;
      load(palette, f);
      palette.AddAlphaPlane();
      EXPECT_EQ(chunkTypes(palette), (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
      EXPECT_EQ(palette.TransparencyKind(), tkAlpha);
      for (const Chunk& c : chunksOf(palette.SaveToBytes()))
        if (c.type == "tRNS") EXPECT_EQ(c.data, Bytes(entries, 255));
    }
  }

  // A palette that was keyed keeps its transparent entry.
  TPngPicture keyed;
  load(keyed, paletteImage({255, 0}));
  keyed.AddAlphaPlane();
  EXPECT_EQ(keyed.TransparencyKind(), tkAlpha);
  for (const Chunk& c : chunksOf(keyed.SaveToBytes()))
    if (c.type == "tRNS") EXPECT_EQ(c.data, (Bytes{255, 0}));
}

TEST(PngPicture, AddAlphaPlaneWidensLowDepthGreySoTheFileStaysValid) {
  struct Case {
    std::uint8_t depth;
    std::uint8_t row;  // 3 samples packed from the top bit
    Bytes greys;
  };
  const Case cases[] = {{1, 0b10100000, {255, 0, 255}}, {2, 0b11011000, {255, 85, 170}}, {4, 0xF5, {255, 85, 0}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.depth));
    TPngPicture image;
    load(image, PngFile().ihdr(3, 1, c.depth, 0).idat(zlibCompress(Bytes{0, c.row, 0})).iend());
    image.AddAlphaPlane();
    const TPngHeaderFields& f = image.HeaderChunk().HeaderFields();
    EXPECT_EQ(f.ColorType, 4);
    EXPECT_EQ(f.BitDepth, 8);
    for (std::uint32_t x = 0; x < 3; ++x) EXPECT_EQ(image.GetPixel(x, 0), c.greys[x] * 0x010101u) << x;
    Bytes saved = image.SaveToBytes();
    Rgba back = libpngRgba(saved);
    ASSERT_EQ(back.pixels.size(), 12u);
    for (std::size_t x = 0; x < 3; ++x) {
      EXPECT_EQ(back.pixels[4 * x], c.greys[x]);
      EXPECT_EQ(back.pixels[4 * x + 3], 255);
    }
    if (std::system("command -v pngcheck >/dev/null 2>&1") == 0) {
      const std::string path = ::testing::TempDir() + "/alpha-grey.png";
      FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      std::fwrite(saved.data(), 1, saved.size(), out);
      std::fclose(out);
      EXPECT_EQ(std::system(("pngcheck -q '" + path + "' >/dev/null").c_str()), 0);
    }
  }
}

TEST(PngPicture, AddAlphaPlaneTurnsAKeyIntoTransparentPixels) {
  // The key (1, 254, 7) is pixel 1; the saved file may not keep the tRNS chunk
  // beside its alpha.
  TPngPicture image;
  load(image, rgbRow(3, {0, 1, 0, 254, 0, 7}));
  image.AddAlphaPlane();
  EXPECT_EQ(Bytes(image.AlphaRow(0), image.AlphaRow(0) + 3), (Bytes{255, 0, 255}));
  EXPECT_EQ(image.Chunks().FirstOfClass<TChunktRNS>(), nullptr);
  EXPECT_EQ(libpngRgba(image.SaveToBytes()).pixels[7], 0);
}

TEST(PngPicture, CopyFromPngCopiesEveryChunkAndTheSettings) {
  PngFile f;
  f.ihdr(2, 1, 8, 3).chunk("gAMA", {0, 0, 0xC3, 0x50}).chunk("PLTE", {10, 20, 30, 200, 100, 50});
  f.chunk("tRNS", {255, 0}).chunk("tEXt", {'K', 0, 'v'}).chunk("prIv", {1, 2, 3});
  f.idat(zlibCompress(Bytes{0, 0, 1})).iend();
  TPngPicture source;
  load(source, f);
  source.SetDeflateLevel(9);
  source.SetAllowedFilters(PngFilterSet({fkPaeth}));
  source.SetInterlacing(1);
  source.SetIdatLimit(100000);

  TPngPicture copy;
  load(copy, rgbRow(5));
  copy.CopyFromPng(source);
  EXPECT_EQ(chunkTypes(copy), chunkTypes(source));
  EXPECT_EQ(copy.DeflateLevel(), 9);
  EXPECT_EQ(copy.AllowedFilters(), PngFilterSet({fkPaeth}));
  EXPECT_EQ(copy.Interlacing(), 1);
  EXPECT_EQ(copy.IdatLimit(), 100000);
  EXPECT_EQ(copy.TransparencyKind(), tkColorKey);
  EXPECT_EQ(copy.GetPixel(1, 0), source.GetPixel(1, 0));
  EXPECT_EQ(copy.SaveToBytes(), source.SaveToBytes());
  // The copy is its own: changing it leaves the source alone.
  copy.SetPixel(0, 0, copy.GetPixel(1, 0));
  EXPECT_NE(copy.GetPixel(0, 0), source.GetPixel(0, 0));
}

TEST(PngPicture, DrawSourceShowsWhatDrawingNeeds) {
  // Entry 2 is past a two-entry palette: black, never an exception.
  TPngPicture past;
  PngFile pastFile;
  pastFile.ihdr(3, 1, 8, 3).chunk("PLTE", {10, 20, 30, 200, 100, 50}).idat(zlibCompress(Bytes{0, 0, 1, 2})).iend();
  load(past, pastFile);
  EXPECT_EQ(past.DrawSource().argb, (std::vector<std::uint32_t>{0xFF0A141E, 0xFFC86432, 0xFF000000}));

  // A palette tRNS (255, 128) blends entry 1 half-transparent, black stays opaque.
  TPngPicture half;
  load(half, paletteImage({255, 128}, {0, 0, 0, 200, 100, 50}));
  EXPECT_EQ(half.DrawSource().argb, (std::vector<std::uint32_t>{0xFF000000, 0x80C86432}));

  // A key leaves exactly its pixels out: by the decoder's mask for a loaded
  // image, by colour for one whose key was set in memory.
  TPngPicture keyed;
  load(keyed, rgbRow(3, {0, 1, 0, 254, 0, 7}));
  EXPECT_EQ(keyed.DrawSource().argb, (std::vector<std::uint32_t>{0xFF00FF07, 0x0001FE07, 0xFF02FD07}));
  TPngPicture keyedInMemory;
  load(keyedInMemory, rgbRow(3));
  keyedInMemory.Chunks().AddChunkOfClass<TChunktRNS>().SetKeyColor(0x07FD02);
  EXPECT_EQ(keyedInMemory.DrawSource().argb, (std::vector<std::uint32_t>{0xFF00FF07, 0xFF01FE07, 0x0002FD07}));
}
