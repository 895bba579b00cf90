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
