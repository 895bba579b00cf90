#include "platform/Text.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Pins the active code page for one test and restores UTF-8 afterwards.
class CodePageScope {
 public:
  explicit CodePageScope(unsigned codePage) { setActiveCodePage(codePage); }
  ~CodePageScope() { setActiveCodePage(kCodePageUtf8); }
};

std::u16string unitsOf(char32_t cp) {
  if (cp < 0x10000) return std::u16string(1, static_cast<char16_t>(cp));
  cp -= 0x10000;
  return {static_cast<char16_t>(0xD800 | (cp >> 10)), static_cast<char16_t>(0xDC00 | (cp & 0x3FF))};
}

std::string allBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

}  // namespace

TEST(Wtf8, EveryCodePointAndLoneSurrogateRoundTrips) {
  // U+D800-U+DFFF here are lone surrogates: one unit each, never a pair.
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    const std::u16string wide = unitsOf(cp);
    const std::string narrow = utf16ToWtf8(wide);
    const std::size_t expectedLength = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    ASSERT_EQ(narrow.size(), expectedLength) << "U+" << std::hex << static_cast<unsigned>(cp);
    ASSERT_EQ(wtf8ToUtf16(narrow), wide) << "U+" << std::hex << static_cast<unsigned>(cp);
  }
}

TEST(Wtf8, EncodesKnownSequences) {
  struct Case {
    std::u16string wide;
    std::string narrow;
  };
  const Case cases[] = {
      {u"", ""},
      {std::u16string(u"A\0B", 3), std::string("A\0B", 3)},
      {u"\u00E9", "\xC3\xA9"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string(1, u'\xD800'), "\xED\xA0\x80"},
      {std::u16string(1, u'\xDFFF'), "\xED\xBF\xBF"},
      // A low surrogate before a high one is two lone surrogates, not a pair.
      {std::u16string{u'\xDC00', u'\xD800'}, "\xED\xB0\x80\xED\xA0\x80"},
      // A high surrogate at the end of the text.
      {std::u16string{u'x', u'\xDBFF'}, "x\xED\xAF\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.narrow);
    EXPECT_EQ(utf16ToWtf8(c.wide), c.narrow);
    EXPECT_EQ(wtf8ToUtf16(c.narrow), c.wide);
  }
}

TEST(Wtf8, InvalidBytesBecomeOneReplacementEach) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const Case cases[] = {
      {"a\x80" "b", u"a\uFFFDb"},                        // stray continuation byte
      {"\xC0\x80", u"\uFFFD\uFFFD"},                     // overlong NUL
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},           // overlong slash
      {"\xE2\x82", u"\uFFFD\uFFFD"},                     // cut off by the end
      {"\xE2\x82" "A", u"\uFFFD\uFFFDA"},                // cut off by ASCII
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
      {"\xF5\xFF\xFE", u"\uFFFD\uFFFD\uFFFD"},           // never-valid bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.narrow);
    EXPECT_EQ(wtf8ToUtf16(c.narrow), c.wide);
  }
}

TEST(ActiveCodePage, ConvertsThroughThePinnedCodePage) {
  setActiveCodePage(kCodePageUtf8);
  EXPECT_EQ(wideToAnsi(std::u16string(1, u'\xD800')), "\xED\xA0\x80");
  {
    CodePageScope scope(1252);
    EXPECT_EQ(activeCodePage(), 1252u);
    EXPECT_EQ(ansiToWide("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
    EXPECT_EQ(wideToAnsi(u"caf\u00E9 \u20AC"), "caf\xE9 \x80");
  }
  EXPECT_EQ(activeCodePage(), kCodePageUtf8);
  EXPECT_EQ(ansiToWide("caf\xC3\xA9"), u"caf\u00E9");
}

TEST(ActiveCodePage, AppendingGivesTheSameBytesAsConverting) {
  // The appending form writes after what the buffer holds and must match the
  // converting one exactly, ASCII fast part and the rest alike.
  const std::u16string cases[] = {
      u"",
      u"plain ascii name",
      std::u16string(u"nul\0inside", 11),
      u"caf\u00E9 \u20AC tail",
      u"\U0001F600 after a pair",
      std::u16string{u'a', u'\xD800', u'b'},
      std::u16string{u'\xDC00', u'\xD800'},
      u"ascii then \u00FF",
  };
  for (const unsigned codePage : {kCodePageUtf8, 1252u}) {
    CodePageScope scope(codePage);
    for (const std::u16string& text : cases) {
      SCOPED_TRACE(testing::Message() << "code page " << codePage << ", " << text.size() << " units");
      std::string out = "prefix|";
      appendWideToAnsi(text, out);
      EXPECT_EQ(out, "prefix|" + wideToAnsi(text));
    }
  }
}

TEST(ActiveCodePageDeathTest, IsReadFromTheEnvironmentOnce) {
  // Each child re-runs this binary, so the code page is read afresh there.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* value;
    unsigned expected;
  };
  for (const Case c : {Case{"1252", 1252}, Case{"932", 932}, Case{"junk", kCodePageUtf8},
                       Case{"", kCodePageUtf8}, Case{"0", kCodePageUtf8}}) {
    SCOPED_TRACE(c.value);
    setenv("HIVESCOPE_CODEPAGE", c.value, 1);
    EXPECT_EXIT(std::exit(activeCodePage() == c.expected ? 0 : 1), testing::ExitedWithCode(0), "");
  }
  unsetenv("HIVESCOPE_CODEPAGE");
}

TEST(CodePage1252, UndefinedBytesDecodeAsWindowsDoes) {
  // Windows fills the five holes of cp1252 with the C1 controls of the same
  // value; nothing fails.
  const std::u16string wide = codePageToWide(1252, "\x81\x8D\x8F\x90\x9D");
  EXPECT_EQ(wide, u"\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(wideToCodePage(1252, wide), "\x81\x8D\x8F\x90\x9D");
}

TEST(CodePage1252, EveryByteRoundTrips) {
  const std::string bytes = allBytes();
  const std::u16string wide = codePageToWide(1252, bytes);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x41], u'A');
  EXPECT_EQ(wide[0x80], u'\u20AC');
  EXPECT_EQ(wide[0x9F], u'\u0178');
  EXPECT_EQ(wide[0xE9], u'\u00E9');
  EXPECT_EQ(wideToCodePage(1252, wide), bytes);
}

TEST(CodePages, UnrepresentableTextBecomesTheDefaultChar) {
  struct Case {
    unsigned codePage;
    std::u16string wide;
    std::string narrow;
  };
  const Case cases[] = {
      {1252, u"a\u0100b", "a?b"},
      {1252, u"\U0001F600", "??"},  // one per UTF-16 unit
      {1252, std::u16string{u'a', u'\xD800'}, "a?"},
      {1251, u"\u0416\u00E9", "\xC6?"},
      {932, u"\u3042\u20AC", "\x82\xA0?"},
      {932, std::u16string{u'\xDC00', u'x'}, "?x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(wideToCodePage(c.codePage, c.wide), c.narrow);
  }
}

TEST(CodePages, DecodeLikeWindows) {
  struct Case {
    unsigned codePage;
    std::string narrow;
    std::u16string wide;
  };
  const Case cases[] = {
      {1250, "\x81\x8A", u"\u0081\u0160"},
      {1251, "\x98\xC6", u"\u0098\u0416"},
      {1253, "\xAA\xD2\xFF\xC1", u"\uF8F9\uF8FA\uF8FB\u0391"},
      {437, "\x82\xB0", u"\u00E9\u2591"},
      {28591, "\xE9", u"\u00E9"},
      {932, "\x82\xA0" "A\x5C", u"\u3042A\\"},
      {932, "\x82\x20", u"\u30FB "},  // lead byte with an invalid trail byte
      {932, "a\x82", u"a\u30FB"},     // lead byte cut off by the end
      {936, "\xC4\xE3", u"\u4F60"},
      {949, "\xB0\xA1", u"\uAC00"},
      {950, "\xA4\x40", u"\u4E00"},
      {1200, std::string("A\0\xAC\x20", 4), u"A\u20AC"},
      {1201, std::string("\0A", 2), u"A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(codePageToWide(c.codePage, c.narrow), c.wide);
  }
}

TEST(CodePages, DoubleByteTextRoundTrips) {
  const std::u16string text = u"\u65E5\u672C\u8A9E and ASCII \u4E2D\u6587";
  for (const unsigned codePage : {932u, 936u, 949u, 950u, 54936u, 1200u}) {
    SCOPED_TRACE(codePage);
    EXPECT_EQ(codePageToWide(codePage, wideToCodePage(codePage, text)), text);
  }
}

TEST(CodePages, UnknownCodePageReplacesInsteadOfFailing) {
  EXPECT_EQ(codePageToWide(4711, "ab"), u"\uFFFD\uFFFD");
  EXPECT_EQ(wideToCodePage(4711, u"ab"), "??");
}

TEST(CodePages, ConcurrentConversionsAgree) {
  const std::string bytes = allBytes();
  const std::u16string expected1252 = codePageToWide(1252, bytes);
  const std::u16string japanese = u"\u65E5\u672C\u8A9E";
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      // Each thread's first call may build the cp1257 table while others
      // use it.
      for (int i = 0; i < 200; ++i) {
        if (codePageToWide(1252, bytes) != expected1252) ++failures[t];
        if (codePageToWide(1257, wideToCodePage(1257, u"\u0160")) != u"\u0160") ++failures[t];
        if (codePageToWide(932, wideToCodePage(932, japanese)) != japanese) ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST(AsciiToWide, WidensEveryByte) {
  EXPECT_EQ(asciiToWide("HKLM\\x"), u"HKLM\\x");
  EXPECT_EQ(asciiToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(CodePages, SupportedMeansIconvHasTheConverter) {
  struct Case {
    unsigned codePage;
    bool supported;
  };
  const Case cases[] = {{65001, true}, {1252, true}, {932, true}, {65000, true}, {4711, false}, {12345, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(codePageSupported(c.codePage), c.supported);
  }
}
