// Normalisation edge cases, the locale comparison and the UTF-8 routines.

#include <gtest/gtest.h>

#include <string>

#include "unicode/SupUnicode.h"

namespace {

using namespace sup;

std::string hex(std::u16string_view s) {
  std::string out;
  char buf[8];
  for (char16_t c : s) {
    std::snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(c));
    out += buf;
  }
  return out;
}

TEST(SupUnicodeNormalize, FormCEdgeCases) {
  const struct {
    const char* what;
    std::u16string in, out;
  } cases[] = {
      {"decomposed e acute composes", u"e\u0301", u"\u00E9"},
      {"composed stays", u"\u00E9", u"\u00E9"},
      {"marks ordered by class, first composes", u"a\u0301\u0328", u"\u0105\u0301"},
      {"leading mark composes with nothing", u"\u0301e\u0301", u"\u0301\u00E9"},
      {"jamo L V T", u"\u1100\u1161\u11A8", u"\uAC01"},
      {"syllable LV plus T", u"\uAC00\u11A8", u"\uAC01"},
      {"syllable stays", u"\uAC00", u"\uAC00"},
      {"U+11A7 is no trailing consonant", u"\uAC00\u11A7", u"\uAC00\u11A7"},
      {"LVT takes no second T", u"\uAC01\u11A8", u"\uAC01\u11A8"},
      {"past the syllables", u"\uD7A4", u"\uD7A4"},
      {"singleton not decomposed", u"\u212B", u"\u212B"},
      {"CJK compatibility ideograph not decomposed", u"\uF900", u"\uF900"},
      {"excluded composite decomposes", u"\u0958", u"\u0915\u093C"},
      {"excluded pair does not compose", u"\u0915\u093C", u"\u0915\u093C"},
      {"U+FB1D stays", u"\uFB1D", u"\uFB1D"},
      {"yod hiriq composes", u"\u05D9\u05B4", u"\uFB1D"},
      {"two-level decomposition recomposes", u"\u1E08", u"\u1E08"},
      {"C cedilla acute from parts", u"C\u0327\u0301", u"\u1E08"},
      {"blocked by same class", u"a\u0301\u0301", u"\u00E1\u0301"},
      {"surrogate pair unchanged", u"\U0001D15E", u"\U0001D15E"},
      {"mark above the BMP is not reordered", u"a\U0001D165\u0301", u"a\U0001D165\u0301"},
      {"lone surrogates unchanged", u"\xD800x\xDC00", u"\xD800x\xDC00"},
      {"embedded NUL kept", std::u16string(u"e\0\u0301e\u0301", 5), std::u16string(u"e\0\u0301\u00E9", 4)},
      {"empty", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(hex(WideNormalize(c.in, nfC)), hex(c.out));
  }
}

TEST(SupUnicodeNormalize, FormsSelectDecompositionAndComposition) {
  EXPECT_EQ(WideNormalize(u"e\u0301", nfNone), u"e\u0301");
  EXPECT_EQ(WideNormalize(u"\u00E9\u0328", nfD), u"e\u0328\u0301");
  EXPECT_EQ(WideNormalize(u"\uAC01", nfD), u"\u1100\u1161\u11A8");
  // There is no compatibility data: the compatibility forms act canonically.
  EXPECT_EQ(WideNormalize(u"\uFB01\u00E9", nfKD), u"\uFB01e\u0301");
  EXPECT_EQ(WideNormalize(u"e\u0301", nfKC), u"\u00E9");
  // Any other value composes.
  EXPECT_EQ(WideNormalize(u"e\u0301", static_cast<TNormalForm>(9)), u"\u00E9");
}

TEST(SupUnicodeNormalize, LongRunsOfMarksAreOrderedStably) {
  // A hostile name: many marks in falling class order, with equal classes that
  // must keep their order.
  std::u16string in = u"a";
  for (int i = 0; i < 20000; ++i) in += (i % 2 == 0) ? u"\u0301\u0302" : u"\u0328\u0327";
  const std::u16string out = WideDecompose(in, false);
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out[0], u'a');
  // All class 202 marks (in their original order: U+0328 then U+0327 pairs), then the class 230 ones.
  for (std::size_t i = 1; i <= 20000; ++i) ASSERT_EQ(out[i], (i % 2 == 1) ? u'\u0328' : u'\u0327') << i;
  for (std::size_t i = 20001; i < out.size(); ++i) ASSERT_EQ(out[i], (i % 2 == 1) ? u'\u0301' : u'\u0302') << i;
}

TEST(SupUnicodeCompare, IgnoresCaseAndOrdersByLocale) {
  const struct {
    std::u16string a, b;
    int expected;
  } cases[] = {
      {u"abc", u"ABC", 0},
      {u"", u"", 0},
      {u"", u"a", -1},
      {u"a", u"B", -1},
      {u"b", u"A", 1},
      {u"Straße", u"STRAßE", 0},
      {u"\u00C9t\u00E9", u"\u00E9T\u00C9", 0},
      {u"key1", u"key2", -1},
      // Native names may hold NULs; everything after one still counts.
      {std::u16string(u"zero\0val", 8), u"zero", 1},
      {std::u16string(u"zero\0val", 8), std::u16string(u"ZERO\0VAL", 8), 0},
      {std::u16string(u"a\0b", 3), std::u16string(u"a\0c", 3), -1},
      {std::u16string(u"a\0", 2), u"a", 1},
      {u"\xD800", u"\xD800", 0},
      {u"x\U0001D15E", u"X\U0001D15E", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hex(c.a) + "vs " + hex(c.b));
    EXPECT_EQ(WideCompareText(c.a, c.b, GetUserDefaultLCID()), c.expected);
    EXPECT_EQ(WideCompareText(c.b, c.a, GetUserDefaultLCID()), -c.expected);
  }
}

TEST(SupUnicodeUtf8, EncodesCharactersAndKeepsLoneSurrogates) {
  const struct {
    std::u16string wide;
    std::string utf8;
  } cases[] = {
      {u"A", "A"},
      {u"\u00E9", "\xC3\xA9"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\U0001D15E", "\xF0\x9D\x85\x9E"},
      {u"\xD800", "\xED\xA0\x80"},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hex(c.wide));
    EXPECT_EQ(WideStringToUTF8(c.wide), c.utf8);
    EXPECT_EQ(UTF8ToWideString(c.utf8), c.wide);
  }
}

TEST(SupUnicodeUtf8, ReadsUnvalidatedInputWithinBounds) {
  const struct {
    const char* what;
    std::string utf8;
    std::u16string wide;
  } cases[] = {
      {"surrogates encoded one by one", "\xED\xA0\xB4\xED\xB5\x9E", u"\U0001D15E"},
      {"continuation bits not checked", "\xC3\x29", u"\u00E9"},
      {"cut off at the end takes what is there", "a\xE2\x82", u"a\u0082"},
      {"stray continuation byte", "\x80z", u"\uFFFDz"},
      {"beyond U+10FFFF", "\xF7\xBF\xBF\xBF", u"\uFFFD"},
      {"six-byte form", "\xFC\x80\x80\x80\x81\x81", u"A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(hex(UTF8ToWideString(c.utf8)), hex(c.wide));
  }
}

TEST(SupUnicodeUtf8, SwapsByteOrder) {
  std::u16string s = u"\u1234\u00FF";
  StrSwapByteOrder(s);
  EXPECT_EQ(s, u"\u3412\uFF00");
}

}  // namespace
