#include "unicode/UniSystem.h"

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <iconv.h>

#include "platform/Text.h"
#include "tests/support/ThrownText.h"

using namespace uni;

namespace {

// glibc's UTF-7 converter, the reference our codec must agree with. Returns
// false when iconv refuses the input.
bool iconvConvert(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(in.size() * 8 + 16, '\0');
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return ok;
}

std::string leBytes(std::u16string_view text) {
  std::string bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string fromLeBytes(std::string_view bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return text;
}

std::string iconvToUtf7(std::u16string_view text) {
  std::string out;
  EXPECT_TRUE(iconvConvert("UTF-7", "UTF-16LE", leBytes(text), out));
  return out;
}

std::u16string iconvFromUtf7(std::string_view utf7) {
  std::string out;
  EXPECT_TRUE(iconvConvert("UTF-16LE", "UTF-7", utf7, out)) << utf7;
  return fromLeBytes(out);
}

}  // namespace

TEST(UniSystemUtf7, EncodesAsTheRelaxedTableSays) {
  struct Case {
    std::u16string text;
    std::string utf7;
  };
  const Case cases[] = {
      {u"", ""},
      {u"a+b\u00E9.", "a+-b+AOk."},               // plus as "+-"; no "-" before "."
      {u"\u65E5\u672C\u8A9E", "+ZeVnLIqe"},       // no "-" at the end of the text
      {u"\u00E9a", "+AOk-a"},                     // "-" before a base64 letter
      {u"\u00E9-", "+AOk--"},                     // and before "-"
      {u"Hi! #1 [x]; {y} <z>", "Hi! #1 [x]; {y} <z>"},  // the optional set goes direct
      {u"a~b\\", "a+AH4-b+AFw"},                  // tilde and backslash do not
      {u"tab\tcr\rlf\n", "tab\tcr\rlf\n"},
      {std::u16string(u"\0", 1), "+AAA"},
      {u"\U0001F600", "+2D3eAA"},                 // a pair is two units in one run
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf7);
    EXPECT_EQ(WideToUTF7(c.text), c.utf7);
    EXPECT_EQ(UTF7ToWide(c.utf7), c.text);
  }
  // The same bytes glibc writes, less its closing "-".
  EXPECT_EQ(iconvToUtf7(u"a+b\u00E9."), "a+-b+AOk.");
}

TEST(UniSystemUtf7, DecodesWhatEncodersWrite) {
  struct Case {
    std::string utf7;
    std::u16string text;
  };
  const Case cases[] = {
      {"+AGE-x", u"ax"},  // the two leftover bits are zero
      {"+-", u"+"},
      {"a+-+-b", u"a++b"},
      {"+ZeVnLIqe-", u"\u65E5\u672C\u8A9E"},
      {"+AOk.+AOk-", u"\u00E9.\u00E9"},
      {"~\\", u"~\\"},                 // direct when written so
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf7);
    EXPECT_EQ(UTF7ToWide(c.utf7), c.text);
  }
}

TEST(UniSystemUtf7, InvalidInputRaisesWithNoPartialResult) {
  const std::string inputs[] = {"+", "+ ", "+A-", "x+", "+AOl", "+AOl-x", "caf\xC3\xA9"};
  for (const std::string& s : inputs) {
    SCOPED_TRACE(s);
    EXPECT_EQ(thrownText([&] { UTF7ToWide(s); }), "Invalid UTF7");
  }
  EXPECT_THROW(UTF7ToWide("+"), EUniGeneralError);
}

TEST(UniSystemUtf7, BufferRoutinesReportInvalidInputAndAFullBuffer) {
  // Invalid input is reported, and the conversion still runs to the end.
  const std::string bad = "+ x\xE9";
  const char* src = bad.data();
  char16_t out[8];
  char16_t* dst = out;
  EXPECT_EQ(ConvertUTF7ToUTF16(src, bad.data() + bad.size(), dst, out + 8), utf7Invalid);
  EXPECT_EQ(std::u16string(out, dst), u" x\u00E9");
  EXPECT_EQ(src, bad.data() + bad.size());

  dst = out;
  const std::string good = "abc";
  src = good.data();
  EXPECT_EQ(ConvertUTF7ToUTF16(src, good.data() + 3, dst, out + 2), utf7BufferFull);

  // The encoder stops before a unit it cannot write whole.
  const std::u16string text = u"a\u00E9";
  const char16_t* wsrc = text.data();
  char bytes[3];
  char* bdst = bytes;
  EXPECT_EQ(ConvertUTF16ToUTF7(wsrc, text.data() + text.size(), bdst, bytes + 3, false), utf7BufferFull);
  EXPECT_EQ(std::string(bytes, bdst), "a+");
  EXPECT_EQ(wsrc, text.data() + 1);

  // The strict table encodes the optional direct characters.
  const std::u16string bang = u"a!";
  wsrc = bang.data();
  char strict[16];
  bdst = strict;
  EXPECT_EQ(ConvertUTF16ToUTF7(wsrc, bang.data() + 2, bdst, strict + 16, true), utf7Ok);
  EXPECT_EQ(std::string(strict, bdst), "a+ACE");
}

TEST(UniSystemUtf7, RandomTextsRoundTripWithIconvBothWays) {
  std::mt19937 random(20261210);
  // Units from every class that matters: direct, optional, encoded ASCII,
  // Latin, CJK, and whole surrogate pairs (iconv refuses lone halves).
  const auto randomUnit = [&](std::u16string& s) {
    switch (random() % 6) {
      case 0: s.push_back(static_cast<char16_t>(random() % 128)); break;
      case 1: s.push_back(u"+-/AZaz09!~\\ "[random() % 13]); break;
      case 2: s.push_back(static_cast<char16_t>(0x80 + random() % 0x780)); break;
      case 3: s.push_back(static_cast<char16_t>(0x4E00 + random() % 0x5000)); break;
      case 4: s.push_back(static_cast<char16_t>(0xE000 + random() % 0x1FFE)); break;
      default: {
        const char32_t cp = 0x10000 + random() % 0x100000;
        s.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        s.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      }
    }
  };
  for (int n = 0; n < 10000; ++n) {
    std::u16string text;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) randomUnit(text);
    const std::string ours = WideToUTF7(text);
    const std::u16string viaIconv = iconvFromUtf7(ours);
    const std::u16string back = UTF7ToWide(iconvToUtf7(text));
    if (viaIconv != text || back != text) {
      ADD_FAILURE() << "text " << n << " (" << platform::utf16ToWtf8(text) << ") as " << ours;
      break;
    }
  }
}

TEST(UniSystemCodePages, ConvertThroughTheirOwnConverters) {
  struct Case {
    std::string bytes;
    unsigned codePage;
    std::u16string text;
  };
  const Case cases[] = {
      {"\x81\xE9", 1252, u"\u0081\u00E9"},
      {"\xC3\xA9", CP_UTF8, u"\u00E9"},
      {"\xED\xA0\x80", CP_UTF8, u"\xD800"},  // WTF-8 keeps a lone surrogate
      {"a+-b+AOk", CP_UTF7, u"a+b\u00E9"},
      {"\x93\xfa\x96\x7b", 932, u"\u65E5\u672C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(CodePageToWide(c.bytes, c.codePage), c.text);
    EXPECT_EQ(WideToCodePage(c.text, c.codePage), c.bytes);
  }
  // A page iconv does not know gives nothing at all.
  EXPECT_EQ(CodePageToWide("abc", 12345), u"");
  EXPECT_EQ(WideToCodePage(u"abc", 12345), "");
}

TEST(UniSystemCodePages, AcpIsTheActiveCodePage) {
  platform::setActiveCodePage(1252);
  EXPECT_EQ(DefaultAnsiCodePage(), 1252u);
  EXPECT_EQ(CodePageToWide("\xE9", CP_ACP), u"\u00E9");
  platform::setActiveCodePage(platform::kCodePageUtf8);
  EXPECT_EQ(CodePageToWide("\xC3\xA9", CP_ACP), u"\u00E9");
}

TEST(UniSystemSwap, SwapsEveryUnitPastAZero) {
  std::u16string text = {0x4100, 0x0000, 0x4200};
  SwapWideByteOrder(text);
  EXPECT_EQ(text, std::u16string(u"A\0B", 3));
}
