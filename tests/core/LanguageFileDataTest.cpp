// The bytes of a language file as INI text: plain, compressed behind the
// marker, damaged, and too large when inflated; the reading-order codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/LanguageFileData.h"
#include "tests/support/Files.h"

namespace {

using testsupport::compressedLanguageFile;

std::string read(const std::string& bytes, std::size_t limit = kMaxLanguageText) {
  return languageFileText(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "LCF", limit);
}

const std::string kText = "[Main]\r\nLanguageName=Deutsch\r\n[Messages]\r\nMyComputer=Arbeitsplatz\r\n";

}  // namespace

TEST(LanguageFileData, PlainAndCompressedFilesGiveTheSameText) {
  const struct {
    const char* name;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"plain", kText, kText},
      {"compressed", compressedLanguageFile(kText), kText},
      // Exactly the marker, and the marker in another case, are plain text.
      {"only the marker", "LCF1", "LCF1"},
      {"lower-case marker", "lcf1" + compressedLanguageFile(kText).substr(4),
       "lcf1" + compressedLanguageFile(kText).substr(4)},
      {"other digit", "LCF2xyz", "LCF2xyz"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.bytes), c.expected);
  }
}

TEST(LanguageFileData, DamagedStreamsKeepWhatInflatedAndLargeOnesStopAtTheLimit) {
  // Not zlib at all after the marker: nothing.
  EXPECT_EQ(read("LCF1not a zlib stream"), "");
  // Cut short: a prefix of the text, never more.
  std::string big;
  for (int i = 0; i < 5000; ++i) big += "Key" + std::to_string(i) + "=Value " + std::to_string(i * 7) + "\r\n";
  const std::string whole = compressedLanguageFile(big);
  const std::string cut = read(whole.substr(0, whole.size() / 2));
  EXPECT_FALSE(cut.empty());
  EXPECT_LT(cut.size(), big.size());
  EXPECT_EQ(big.compare(0, cut.size(), cut), 0);
  // A stream that inflates far beyond the limit stops there.
  const std::string zeros(4u << 20, 'A');
  const std::string bomb = compressedLanguageFile(zeros);
  ASSERT_LT(bomb.size(), 64u * 1024u);
  EXPECT_EQ(read(bomb, 100000).size(), 100000u);
  EXPECT_EQ(read(bomb).size(), zeros.size());
}

TEST(LanguageFileData, ReadingOrderCodes) {
  const struct {
    const char* text;
    int mode;
  } cases[] = {{"LR", 0}, {"RL", 1}, {"RLNA", 2}, {"RLRO", 3}, {"rlro", 3}, {"rLnA", 2},
               {"", 0},   {"RLR", 0}, {" RL", 0}, {"RTL", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(bidiModeFromText(c.text), c.mode);
  }
}

TEST(LanguageFileData, Utf8TextIsToldFromCodePageText) {
  const struct {
    const char* name;
    std::string text;
    bool utf8;
  } cases[] = {
      {"German in UTF-8", "Caption=Gr\xC3\xBC\xC3\x9F" "e", true},
      {"three- and four-byte forms", "\xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"ASCII only reads the same either way", "Caption=Hello", false},
      {"empty", "", false},
      {"German in Windows-1252", "Caption=Gr\xFC\xDF" "e", false},
      {"lone continuation byte", "a\x80", false},
      {"sequence cut at the end", "a\xC3", false},
      {"overlong two-byte form", "\xC0\xAF", false},
      {"overlong three-byte form", "\xE0\x80\xAF", false},
      {"UTF-16 surrogate", "\xED\xA0\x80", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
      {"valid text with one stray byte later", "Gr\xC3\xBC\xC3\x9F" "e \xFC", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(looksLikeUtf8(c.text), c.utf8);
  }
}
