// The PNG suite read and written by TPngPicture, checked against the suite's
// reference pixels and against libpng reading the same bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <typeinfo>

#include "png/pngpicture.h"
#include "tests/png/PngTestImages.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;
using namespace pngtest;

namespace {

std::vector<fs::path> suiteFiles(const fs::path& dir, bool corrupt) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const fs::path& p = entry.path();
    if (p.extension() != ".png") continue;
    if ((p.filename().string()[0] == 'x') == corrupt) files.push_back(p);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The store's colours with the image's own gamma applied to libpng's samples
// (libpng is asked for none), so both sides show the same thing.
Rgba withGamma(Rgba rgba, const TGammaTable& gamma) {
  for (std::size_t i = 0; i < rgba.pixels.size(); ++i)
    if (i % 4 != 3) rgba.pixels[i] = gamma[rgba.pixels[i]];
  return rgba;
}

// Index of the first differing byte, for a readable failure.
std::string firstDifference(const Bytes& a, const Bytes& b, std::uint32_t width) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i])
      return "pixel (" + std::to_string(i / 4 % width) + ", " + std::to_string(i / 4 / width) + ") channel " +
             std::to_string(i % 4) + ": " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
  return "equal";
}

struct StoreImage {
  Bytes pixels, alpha, keyMask;
  std::vector<TRgbQuad> colours;
  bool operator==(const StoreImage&) const = default;
};
StoreImage storeOf(const TPngPicture& image) {
  const TChunkIHDR& h = image.HeaderChunk();
  StoreImage s;
  s.pixels.assign(h.PixelBytes().begin(), h.PixelBytes().end());
  s.alpha.assign(h.AlphaBytes().begin(), h.AlphaBytes().end());
  s.keyMask.assign(h.KeyMaskBytes().begin(), h.KeyMaskBytes().end());
  s.colours.assign(h.ColorTable().begin(), h.ColorTable().end());
  return s;
}

}  // namespace

TEST(PngPictureSuite, EveryValidFileDecodesToTheReferenceAndToLibpng) {
  HS_TESTDATA_OR_SKIP(dir, testsupport::testdataFile("png/pngsuite"));
  const fs::path json = dir.parent_path() / "pngsuite-json";
  for (const fs::path& file : suiteFiles(dir, false)) {
    SCOPED_TRACE(file.filename().string());
    Bytes bytes = readBytes(file);
    TPngPicture image;
    ASSERT_NO_THROW(image.LoadFromBytes(bytes));
    Rgba ours = storeRgba(image);
    Rgba theirs = withGamma(libpngRgba(bytes), image.DecodeGamma());
    ASSERT_EQ(ours.width, theirs.width);
    EXPECT_TRUE(ours.pixels == theirs.pixels) << "libpng: " << firstDifference(ours.pixels, theirs.pixels, ours.width);
    Bytes reference = referencePixels(json / file.filename().replace_extension(".json"),
                                      image.HeaderChunk().HeaderFields().BitDepth == 16);
    if (reference.empty()) continue;
    Rgba expected{ours.width, ours.height, reference};
    expected = withGamma(expected, image.DecodeGamma());
    EXPECT_TRUE(ours.pixels == expected.pixels)
        << "reference: " << firstDifference(ours.pixels, expected.pixels, ours.width);
  }
}

TEST(PngPictureSuite, TwoBitGreyShowsFourEvenSteps) {
  HS_TESTDATA_OR_SKIP(dir, testsupport::testdataFile("png/pngsuite"));
  for (const char* name : {"basn0g02.png", "basi0g02.png"}) {
    SCOPED_TRACE(name);
    TPngPicture image;
    image.LoadFromBytes(readBytes(dir / name));
    Rgba rgba = storeRgba(image);
    std::set<int> greys, expected;
    for (std::size_t i = 0; i < rgba.pixels.size(); i += 4) greys.insert(rgba.pixels[i]);
    for (int v : {0, 85, 170, 255}) expected.insert(image.DecodeGamma()[v]);
    EXPECT_EQ(greys, expected);
  }
}

TEST(PngPictureSuite, KeyMaskIsWhereLibpngMakesPixelsTransparent) {
  HS_TESTDATA_OR_SKIP(dir, testsupport::testdataFile("png/pngsuite"));
  for (const char* name : {"tbbn0g04.png", "tbbn2c16.png", "tbwn0g16.png", "tbrn2c08.png"}) {
    SCOPED_TRACE(name);
    Bytes bytes = readBytes(dir / name);
    TPngPicture image;
    image.LoadFromBytes(bytes);
    auto mask = image.HeaderChunk().KeyMaskBytes();
    Rgba theirs = libpngRgba(bytes);
    ASSERT_EQ(mask.size() * 4, theirs.pixels.size());
    std::size_t keyed = 0;
    for (std::size_t i = 0; i < mask.size(); ++i) {
      EXPECT_EQ(mask[i] != 0, theirs.pixels[4 * i + 3] == 0) << "pixel " << i;
      keyed += mask[i];
    }
    EXPECT_GT(keyed, 0u);
  }
}

TEST(PngPictureSuite, CorruptFilesAreRefusedWithTheirError) {
  HS_TESTDATA_OR_SKIP(dir, testsupport::testdataFile("png/pngsuite"));
  struct Case {
    const char* name;
    const std::type_info& type;
    std::string_view text;
  };
  const Case cases[] = {
      {"xs1n0g01", typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"xs2n0g01", typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"xs4n0g01", typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"xs7n0g01", typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"xcrn0g04", typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"xlfn0g04", typeid(EPNGInvalidFileHeader), pngtext::kInvalidFileHeader},
      {"xhdn0g08", typeid(EPngInvalidCRC), pngtext::kInvalidCrc},
      {"xcsn0g01", typeid(EPngInvalidCRC), pngtext::kInvalidCrc},
      {"xdtn0g01", typeid(EPNGNoImageData), pngtext::kNoImageData},
      {"xc1n0g08", typeid(EPngInvalidIHDR), pngtext::kInvalidIhdr},
      {"xc9n2c08", typeid(EPngInvalidIHDR), pngtext::kInvalidIhdr},
      {"xd0n2c08", typeid(EPngInvalidIHDR), pngtext::kInvalidIhdr},
      {"xd3n2c08", typeid(EPngInvalidIHDR), pngtext::kInvalidIhdr},
      {"xd9n2c08", typeid(EPngInvalidIHDR), pngtext::kInvalidIhdr},
  };
  std::set<std::string> covered;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    covered.insert(std::string(c.name) + ".png");
    TPngPicture image;
    try {
      image.LoadFromBytes(readBytes(dir / (std::string(c.name) + ".png")));
      ADD_FAILURE() << "loaded";
    } catch (const std::exception& e) {
      EXPECT_EQ(typeid(e).name(), std::string(c.type.name()));
      EXPECT_EQ(e.what(), c.text);
    }
  }
  // A corrupt file the table does not name is refused all the same.
  for (const fs::path& file : suiteFiles(dir, true)) {
    if (covered.count(file.filename().string())) continue;
    SCOPED_TRACE(file.filename().string());
    TPngPicture image;
    EXPECT_ANY_THROW(image.LoadFromBytes(readBytes(file)));
  }
}

// Saving under each setting and loading again gives the same store; the
// saved files are sound to libpng and to the checking tools.
TEST(PngPictureSuite, SaveAndLoadAgainKeepsTheStore) {
  HS_TESTDATA_OR_SKIP(dir, testsupport::testdataFile("png/pngsuite"));
  struct Setting {
    const char* name;
    TPngFilterKinds filters;
    int interlace;  // -1: as loaded
  };
  const Setting settings[] = {
      {"defaults", PngFilterSet({fkSub}), -1},
      {"all-filters", kAllPngFilters, -1},
      {"adam7", PngFilterSet({fkSub}), 1},
      {"not-interlaced", kAllPngFilters, 0},
  };
  testsupport::TempDir out("hivescope-png");
  std::vector<std::string> saved;
  for (const Setting& setting : settings) {
    for (const fs::path& file : suiteFiles(dir, false)) {
      SCOPED_TRACE(std::string(setting.name) + " " + file.filename().string());
      Bytes original = readBytes(file);
      TPngPicture image;
      image.LoadFromBytes(original);
      image.SetAllowedFilters(setting.filters);
      if (setting.interlace >= 0) image.SetInterlacing(std::uint8_t(setting.interlace));
      Bytes written = image.SaveToBytes();

      TPngPicture again;
      ASSERT_NO_THROW(again.LoadFromBytes(written));
      EXPECT_TRUE(storeOf(again) == storeOf(image));
      Rgba ours = storeRgba(image);
      Rgba theirs = withGamma(libpngRgba(written), again.DecodeGamma());
      EXPECT_TRUE(ours.pixels == theirs.pixels) << firstDifference(ours.pixels, theirs.pixels, ours.width);

      // Ancillary chunks come back in their order and, where we do not
      // rewrite them, byte for byte; cHRM is dropped; IEND ends the file.
      std::vector<Chunk> before, after = chunksOf(written);
      for (Chunk& c : chunksOf(original))
        if (c.type != "cHRM" && !(c.type == "IDAT" && !before.empty() && before.back().type == "IDAT"))
          before.push_back(std::move(c));
      for (std::size_t i = 1; i < after.size(); ++i)
        if (after[i].type == "IDAT" && after[i - 1].type == "IDAT") after.erase(after.begin() + long(i--));
      ASSERT_EQ(before.size(), after.size());
      for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].type, after[i].type);
        static const std::set<std::string> rewritten = {"IHDR", "IDAT", "PLTE", "tRNS", "zTXt"};
        if (!rewritten.count(before[i].type)) {
          EXPECT_TRUE(before[i].data == after[i].data) << before[i].type;
        }
      }
      const Bytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
      ASSERT_GE(written.size(), iend.size());
      EXPECT_TRUE(std::equal(iend.begin(), iend.end(), written.end() - 12));

      fs::path target = out / (std::string(setting.name) + "-" + file.filename().string());
      std::ofstream(target, std::ios::binary).write(reinterpret_cast<const char*>(written.data()),
                                                    std::streamsize(written.size()));
      saved.push_back(testsupport::shellQuote(target.string()));
    }
  }
  std::string list;
  for (const std::string& s : saved) list += " " + s;
  if (std::system("command -v pngcheck >/dev/null 2>&1") == 0) {
    // pngcheck refuses one suite file itself (cm7n0g04's tIME year 1970):
    // what it refuses in the originals is not held against the copies.
    std::string originals;
    for (const fs::path& file : suiteFiles(dir, false)) originals += " " + testsupport::shellQuote(file.string());
    std::system(("pngcheck -q" + originals + " > " + testsupport::shellQuote((out / "originals.log").string()) +
                 " 2>&1").c_str());
    std::string refused = testsupport::readFileText(out / "originals.log");
    list.clear();
    for (const std::string& s : saved) {
      std::string name = s.substr(s.rfind('-') + 1);
      name.pop_back();  // the closing quote
      if (refused.find("/" + name) == std::string::npos) list += " " + s;
    }
    EXPECT_EQ(std::system(("pngcheck -v" + list + " > " + testsupport::shellQuote((out / "pngcheck.log").string()) +
                           " 2>&1").c_str()),
              0)
        << testsupport::readFileText(out / "pngcheck.log");
  } else {
    std::cout << "pngcheck is not installed: its check of the saved files is skipped\n";
  }
  list.clear();
  for (const std::string& s : saved) list += " " + s;
  if (std::system("command -v pngfix >/dev/null 2>&1") == 0) {
    // pngfix reads each file and reports what it would fix; exit 0 means nothing.
    EXPECT_EQ(std::system(("pngfix" + list + " > " + testsupport::shellQuote((out / "pngfix.log").string()) +
                           " 2>&1").c_str()),
              0)
        << testsupport::readFileText(out / "pngfix.log");
  } else {
    std::cout << "pngfix is not installed: its check of the saved files is skipped\n";
  }
}
